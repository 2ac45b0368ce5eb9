#include <algorithm>

#include "store/Database.h"
#include "store/Engine.h"
#include "store/StoreErrors.h"

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

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

void Recordset::Open(const QString& source, Connection& activeConnection, LockType lockType,
                     int options, const std::vector<QString>& parameters) {
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
            readAnew(activeConnection.Evidence());
        } else {
            describeSource();
            startRows();
            countedRows_ = activeConnection.engine().count(source_, parameters_);
        }
    } catch (...) {
        connection_ = nullptr;
        throw;
    }
}

void Recordset::Requery() {
    requireOpen();
    connection_->FollowFile();
    // Asked once: on a server it costs a round trip.
    const StoreEvidence now = connection_->Evidence();
    if (keepsRows_ && kept_.Holds(now)) {
        MoveFirst();
        return;
    }
    // A recordset that only counted its rows reads them now, with room for as many.
    readAnew(now);
    keepsRows_ = true;
}

void Recordset::MoveFirst() {
    requireOpen();
    position_ = 0;
    currentDeleted_ = false;
}

// Reads every row of the source and notes what they were read under, as it stood before the
// reading: a commit during it shows as a change at the next Requery. Most likely there are as
// many rows as last time: room for them at once, instead of moving the rows read so far each
// time the room runs out.
void Recordset::readAnew(const StoreEvidence& before) {
    Engine& engine = connection_->engine();
    const auto expectedRows = std::size_t(RecordCount());
    startRows();
    if (!shape_) {
        shape_ = std::make_unique<SourceShape>();
    }
    undoneAtRead_ = engine.undone();
    const SourceTraits traits = engine.read(source_, parameters_, lockType_ != adLockReadOnly,
                                            expectedRows, *shape_, {columns_, rowIds_});
    kept_.Read(before, traits);
    ++version_;
}

void Recordset::noteOwnChange(KeptRowsRule::OwnChange change) {
    kept_.Noted(change);
    ++version_;
}

// The source's columns and the table behind it, without running it.
void Recordset::describeSource() {
    shape_ = std::make_unique<SourceShape>(
        connection_->engine().describe(source_, parameters_, lockType_ != adLockReadOnly));
}

// key.mdb is another file now: what rows go into is looked up there anew, and the rows kept
// came from the old file, whose row ids name other rows, or none, in the new one. They are let
// go; the next Requery reads the new file's.
void Recordset::describeNewDatabase() {
    describeSource();
    startRows();
    kept_ = {};
    ++version_;
}

// No rows read yet, none current, none being added.
void Recordset::startRows() {
    columns_.assign(shape_ ? shape_->columns.size() : 0, {});
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
    startRows();
    shape_.reset();
    columns_.clear();
    kept_ = {};
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
    // Rows of a transaction that was undone since may hold what no database holds.
    if (!IsOpen() || !keepsRows_ || !shape_ || !connection_->IsOpen() ||
        connection_->engine().undone() != undoneAtRead_) {
        return nullptr;
    }
    for (std::size_t c = 0; c < shape_->columns.size() && c < columns_.size(); ++c) {
        if (shape_->columns[c].compare(name, Qt::CaseInsensitive) == 0) {
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
    if (connection_->Generation() != shape_->generation) {
        describeNewDatabase();
        requireUpdatable();
    }
    pendingRow_.emplace(shape_->columns.size());
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
    // Rows added one by one inside a transaction: a cancel stops them between two rows too.
    connection_->StopIfCancelled();
    if (!connection_->InTransaction()) {
        // A row stored on its own goes into the database the name gives now.
        connection_->FollowFile();
        if (connection_->Generation() != shape_->generation) {
            describeNewDatabase();
            requireUpdatable();
        }
    }
    setColumns_.clear();
    for (std::size_t c = 0; c < pending.size(); ++c) {
        if (pending[c]) {
            if (shape_->numeric[c]) {
                throw RuntimeError(
                    adErrFeatureNotAvailable,
                    QStringLiteral(u"关键字不能添加：列 %1 会把文字存成数字（如 007 存成 7）。")
                        .arg(shape_->columns[c]));
            }
            setColumns_.push_back(int(c));
        }
    }
    std::int64_t rowId = 0;
    if (!connection_->engine().insert(*shape_, setColumns_, pending, rowId)) {
        return false;
    }

    if (!keepsRows_) {
        ++countedRows_;
        return true;
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        columns_[c].push_back(pending[c] ? std::move(*pending[c]) : FieldValue());
    }
    if (!shape_->rowIdName.isEmpty()) {
        rowIds_.push_back(rowId);
    }
    position_ = std::size_t(RecordCount()) - 1;
    currentDeleted_ = false;
    noteOwnChange(KeptRowsRule::OwnChange::Added);
    return true;
}

void Recordset::Delete() {
    requireUpdatable();
    requireCurrentRow();
    connection_->FollowFile();
    // A row read from a database that no longer has the name is not in the one that has it now.
    if (connection_->Generation() != shape_->generation) {
        throw RowGone();
    }
    connection_->engine().remove(*shape_, {columns_, rowIds_}, position_);

    const auto row = std::ptrdiff_t(position_);
    for (auto& column : columns_) {
        column.erase(column.begin() + row);
    }
    if (!rowIds_.empty()) {
        rowIds_.erase(rowIds_.begin() + row);
    }
    currentDeleted_ = true;
    noteOwnChange(KeptRowsRule::OwnChange::Removed);
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
    if (!shape_ || shape_->table.isEmpty()) {
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
    const std::vector<QString>& columns = shape_->columns;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (columns[c] == name || columns[c].compare(name, Qt::CaseInsensitive) == 0) {
            return int(c);
        }
    }
    throw RuntimeError(adErrItemNotFound,
                       QStringLiteral(u"在对应所需名称或序数的集合中，未找到项目。"));
}

}  // namespace vorelta
