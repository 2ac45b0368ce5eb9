#include <sqlite3.h>

#include <algorithm>

#include "store/Database.h"
#include "store/SourceSql.h"
#include "store/SqliteStatement.h"

namespace vorelta {

// ---------------------------------------------------------------------------------------------
// Field

const FieldValue& Field::Value() const {
    if (recordset_.pendingRow_) {
        static const FieldValue kNull;
        const auto& pending = (*recordset_.pendingRow_)[column_];
        return pending ? *pending : kNull;
    }
    recordset_.requireCurrentRow();
    return recordset_.columns_[column_][recordset_.position_];
}

void Field::SetValue(const QString& value) {
    if (!recordset_.pendingRow_) {
        throw RuntimeError(adErrFeatureNotAvailable,
                           QStringLiteral(u"只能为新添加的记录设置字段值。"));
    }
    (*recordset_.pendingRow_)[column_] = FieldValue(value);
}

// ---------------------------------------------------------------------------------------------
// Recordset

void Recordset::Open(const QString& source, Connection& activeConnection, CursorType /*cursor*/,
                     LockType lockType, int options, const std::vector<QString>& parameters) {
    if (IsOpen()) {
        throw ObjectOpen();
    }
    activeConnection.FollowFile();
    connection_ = &activeConnection;
    source_ = source;
    parameters_ = parameters;
    lockType_ = lockType;
    keepsRows_ = options != adCountRowsOnly;
    try {
        if (keepsRows_) {
            readAnew();
        } else {
            describeSource();
            countRows(activeConnection.handle());
        }
    } catch (...) {
        connection_ = nullptr;
        throw;
    }
}

// Prepares the source with its parameters bound, finds out what its rows can be written back
// to and which columns it has. When the rows can be told apart, the statement also selects
// their row ids, in front of the columns.
sqlite3_stmt* Recordset::prepareSource(sqlite3* db, const std::vector<QString>& parameters,
                                       std::vector<std::string>& boundBytes) {
    Statement statement = Prepare(db, source_);
    sourceTable_ = TableBehind(statement.get(), source_);
    const QString table = lockType_ != adLockReadOnly ? sourceTable_ : QString();
    QString rowIdName;
    TableColumns tableColumns;
    if (!table.isEmpty()) {
        tableColumns = ColumnsOf(db, table);
        rowIdName = RowIdNameOf(tableColumns);
    }
    columnNames_.clear();
    for (int c = 0; c < sqlite3_column_count(statement.get()); ++c) {
        columnNames_.push_back(QString::fromUtf8(sqlite3_column_name(statement.get(), c)));
    }
    if (!rowIdName.isEmpty()) {
        Statement keyed = PrepareKeyed(db, WithRowId(source_, rowIdName));
        if (keyed) {
            statement = std::move(keyed);
        } else {
            rowIdName.clear();
        }
    }
    table_ = rowIdName.isEmpty() ? QString() : table;
    rowIdName_ = rowIdName;
    numericColumns_ = NumericColumnsOf(tableColumns, columnNames_);
    generation_ = connection_->Generation();
    insert_.reset();
    insertColumns_.clear();

    BindParameters(db, statement.get(), parameters, connection_->Encoding(), boundBytes);
    return statement.release();
}

void Recordset::readRows(sqlite3_stmt* statement, bool withRowIds) {
    const int first = withRowIds ? 1 : 0;
    const auto columnCount = columnNames_.size();
    // Most likely as many rows as last time: room for them at once, instead of moving the rows
    // read so far each time the room runs out.
    const auto expectedRows = std::size_t(RecordCount());
    startRows();
    for (auto& column : columns_) {
        column.reserve(expectedRows);
    }
    if (withRowIds) {
        rowIds_.reserve(expectedRows);
    }

    sqlite3* db = sqlite3_db_handle(statement);
    const TextEncoding encoding = connection_->Encoding();
    int rc;
    std::size_t rows = 0;
    for (; (rc = sqlite3_step(statement)) == SQLITE_ROW; ++rows) {
        if (withRowIds) {
            rowIds_.push_back(sqlite3_column_int64(statement, 0));
        }
        for (std::size_t c = 0; c < columnCount; ++c) {
            columns_[c].push_back(ReadText(statement, first + int(c), encoding));
        }
    }
    if (rc != SQLITE_DONE) {
        columns_.clear();
        throw SqliteError(db, rc);
    }
    // A table much smaller than last time keeps no room for the rows it had.
    if (rows < expectedRows / 2) {
        for (auto& column : columns_) {
            column.shrink_to_fit();
        }
        rowIds_.shrink_to_fit();
    }
}

void Recordset::Requery() {
    requireOpen();
    connection_->FollowFile();
    if (keepsRows_ && kept_.Holds(connection_->Evidence())) {
        MoveFirst();
        return;
    }
    // A recordset that only counted its rows reads them now, with room for as many.
    readAnew();
    keepsRows_ = true;
}

void Recordset::Forget() {
    kept_.Forget();
}

void Recordset::MoveFirst() {
    requireOpen();
    position_ = 0;
    currentDeleted_ = false;
}

// Reads every row of the source and notes what they were read under, as it stood before the
// reading: a commit during it shows as a change at the next Requery.
void Recordset::readAnew() {
    sqlite3* db = connection_->db();
    const StoreEvidence before = connection_->Evidence();
    std::vector<std::string> boundBytes;
    const Statement statement(prepareSource(db, parameters_, boundBytes));
    readRows(statement.get(), !rowIdName_.isEmpty());
    kept_.Read(before, {!sourceTable_.isEmpty(), AddsAtTheEnd(db, source_),
                        !sourceTable_.isEmpty() && CountsEveryChange(db, sourceTable_)});
    ++version_;
}

void Recordset::noteOwnChange(KeptRowsRule::OwnChange change) {
    kept_.Noted(change);
    ++version_;
}

// The source's columns and the table behind it, without running it.
void Recordset::describeSource() {
    std::vector<std::string> noBytes;
    const Statement unread(prepareSource(connection_->db(), {}, noBytes));
}

// The number of rows the source delivers, counted by the database without reading them.
void Recordset::countRows(sqlite3* db) {
    Statement count = Prepare(db, QStringLiteral("select count(*) from (%1)").arg(source_));
    std::vector<std::string> bytes;
    BindParameters(db, count.get(), parameters_, connection_->Encoding(), bytes);
    const int rc = sqlite3_step(count.get());
    if (rc != SQLITE_ROW) {
        throw SqliteError(db, rc);
    }
    startRows();
    countedRows_ = sqlite3_column_int(count.get(), 0);
}

// No rows read yet, none current, none being added.
void Recordset::startRows() {
    columns_.assign(columnNames_.size(), {});
    rowIds_.clear();
    countedRows_ = 0;
    position_ = 0;
    currentDeleted_ = false;
    pendingRow_.reset();
}

void Recordset::Close() {
    requireOpen();
    connection_ = nullptr;
    source_.clear();
    columnNames_.clear();
    numericColumns_.clear();
    startRows();
    kept_ = {};
    sourceTable_.clear();
    table_.clear();
    rowIdName_.clear();
    insert_.reset();
    insertColumns_.clear();
}

int Recordset::RecordCount() const {
    requireOpen();
    if (!keepsRows_) {
        return countedRows_;
    }
    return columns_.empty() ? 0 : int(columns_.front().size());
}

bool Recordset::Eof() const {
    requireOpen();
    // Rows that are only counted are not there to be walked.
    return !keepsRows_ || position_ >= std::size_t(RecordCount());
}

void Recordset::MoveNext() {
    requireOpen();
    if (currentDeleted_) {
        // The next row has already moved up into the deleted row's place.
        currentDeleted_ = false;
        return;
    }
    if (Eof()) {
        throw NoCurrentRecord();
    }
    ++position_;
}

Field Recordset::Fields(const QString& name) {
    return Field(*this, columnIndex(name));
}

const std::vector<FieldValue>& Recordset::Column(const QString& name) const {
    return columns_[std::size_t(columnIndex(name))];
}

const std::vector<FieldValue>* Recordset::KeptColumn(const QString& name) const noexcept {
    if (!IsOpen() || !keepsRows_) {
        return nullptr;
    }
    for (std::size_t c = 0; c < columnNames_.size() && c < columns_.size(); ++c) {
        if (columnNames_[c].compare(name, Qt::CaseInsensitive) == 0) {
            return &columns_[c];
        }
    }
    return nullptr;
}

void Recordset::Find(const QString& name, const FieldValue& value) {
    const std::vector<FieldValue>& column = columns_[std::size_t(columnIndex(name))];
    if (!keepsRows_ || position_ >= column.size()) {
        return;
    }
    const auto from = column.begin() + std::ptrdiff_t(position_);
    position_ = std::size_t(std::find(from, column.end(), value) - column.begin());
    currentDeleted_ = false;
}

void Recordset::AddNew() {
    requireUpdatable();
    if (connection_->Generation() != generation_) {
        // key.mdb is another file now: what the rows go into is looked up there anew.
        describeSource();
        requireUpdatable();
    }
    pendingRow_.emplace(columnNames_.size());
}

void Recordset::ReserveRows(std::size_t more) {
    requireOpen();
    if (!keepsRows_) {
        return;
    }
    for (auto& column : columns_) {
        column.reserve(column.size() + more);
    }
    rowIds_.reserve(rowIds_.size() + more);
}

bool Recordset::Update() {
    requireOpen();
    if (!pendingRow_) {
        return false;
    }
    // Whatever happens, the new row is no longer being edited afterwards.
    auto pending = std::move(*pendingRow_);
    pendingRow_.reset();
    if (!connection_->InTransaction()) {
        // A row stored on its own goes into the file the name holds now.
        connection_->FollowFile();
        if (connection_->Generation() != generation_) {
            describeSource();
            requireUpdatable();
        }
    }

    // Scratch kept between rows: a bulk insert allocates nothing per row for the statement.
    std::vector<int>& setColumns = insertScratch_.columns;
    setColumns.clear();
    for (std::size_t c = 0; c < pending.size(); ++c) {
        if (pending[c]) {
            if (numericColumns_[c]) {
                throw RuntimeError(
                    adErrFeatureNotAvailable,
                    QStringLiteral(u"关键字不能添加：列 %1 会把文字存成数字（如 007 存成 7）。")
                        .arg(columnNames_[c]));
            }
            setColumns.push_back(int(c));
        }
    }
    sqlite3* db = connection_->db();
    sqlite3_stmt* insert = insertStatement(db, setColumns);
    std::vector<std::string>& bytes = insertScratch_.bytes;
    bytes.resize(setColumns.size());
    for (std::size_t i = 0; i < setColumns.size(); ++i) {
        BindText(db, insert, int(i + 1), *pending[std::size_t(setColumns[i])],
                 connection_->Encoding(), bytes[i]);
    }
    const int rc = connection_->stepWrite(insert);
    sqlite3_reset(insert);  // every parameter is bound again for the next row
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
    if (sqlite3_changes(db) == 0) {
        return false;
    }

    if (!keepsRows_) {
        ++countedRows_;
        return true;
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        columns_[c].push_back(pending[c] ? std::move(*pending[c]) : FieldValue());
    }
    rowIds_.push_back(sqlite3_last_insert_rowid(db));
    position_ = std::size_t(RecordCount()) - 1;
    currentDeleted_ = false;
    noteOwnChange(KeptRowsRule::OwnChange::Added);
    return true;
}

// The insert for rows that set these columns, prepared once and kept while rows of the same
// shape follow: a bulk insert then costs one step per row, not one compilation.
sqlite3_stmt* Recordset::insertStatement(sqlite3* db, const std::vector<int>& setColumns) {
    if (insert_ && insertColumns_ == setColumns) {
        return insert_.get();
    }
    QStringList names;
    QStringList placeholders;
    for (const int c : setColumns) {
        names << QuoteIdentifier(columnNames_[std::size_t(c)]);
        placeholders << QStringLiteral("?");
    }
    const QString sql =
        names.isEmpty()
            ? QStringLiteral("insert into %1 default values").arg(QuoteIdentifier(table_))
            : QStringLiteral("insert into %1 (%2) values (%3)")
                  .arg(QuoteIdentifier(table_), names.join(u", "), placeholders.join(u", "));
    insert_.reset(Prepare(db, sql).release());
    insertColumns_ = setColumns;
    return insert_.get();
}

void Recordset::Delete(AffectEnum /*affectRecords*/) {
    requireUpdatable();
    requireCurrentRow();
    connection_->FollowFile();
    // A row read from a file that no longer has the name is not in the one that has it now.
    if (connection_->Generation() != generation_) {
        throw RowGone();
    }
    sqlite3* db = connection_->db();
    Statement statement = Prepare(
        db, QStringLiteral("delete from %1 where %2 = ?").arg(QuoteIdentifier(table_), rowIdName_));
    sqlite3_bind_int64(statement.get(), 1, rowIds_[position_]);
    const int rc = connection_->stepWrite(statement.get());
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
    // The row id names exactly one row; none removed means another program removed it first.
    if (sqlite3_changes(db) != 1) {
        throw RowGone();
    }

    const auto row = std::ptrdiff_t(position_);
    for (auto& column : columns_) {
        column.erase(column.begin() + row);
    }
    rowIds_.erase(rowIds_.begin() + row);
    currentDeleted_ = true;
    noteOwnChange(KeptRowsRule::OwnChange::Removed);
}

void StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

void Recordset::requireOpen() const {
    if (!IsOpen()) {
        throw ObjectClosed();
    }
}

void Recordset::requireUpdatable() const {
    requireOpen();
    if (lockType_ == adLockReadOnly) {
        throw RuntimeError(adErrFeatureNotAvailable,
                           QStringLiteral(u"当前记录集是只读的，不支持更新。"));
    }
    if (table_.isEmpty()) {
        throw RuntimeError(
            adErrFeatureNotAvailable,
            QStringLiteral(u"关键字不能添加或删除：数据来自视图或无法区分各条记录的表。"));
    }
}

void Recordset::requireCurrentRow() const {
    if (Eof() || currentDeleted_) {
        throw NoCurrentRecord();
    }
}

int Recordset::columnIndex(const QString& name) const {
    requireOpen();
    for (std::size_t c = 0; c < columnNames_.size(); ++c) {
        if (columnNames_[c] == name || columnNames_[c].compare(name, Qt::CaseInsensitive) == 0) {
            return int(c);
        }
    }
    throw RuntimeError(adErrItemNotFound,
                       QStringLiteral(u"在对应所需名称或序数的集合中，未找到项目。"));
}

}  // namespace vorelta
