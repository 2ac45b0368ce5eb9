#include "tests/support/PgCluster.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace vorelta::test {

namespace {

// The socket lives in the cluster's own folder, so the port only names the socket file there:
// clusters running side by side cannot take each other's, and libpq's default applies.
constexpr int kPort = 5432;
constexpr int kStandbyPort = 5433;
constexpr char kSuperuser[] = "postgres";
constexpr char kServerAccount[] = "postgres";

using Command = std::vector<std::string>;
using PgResult = std::unique_ptr<PGresult, void (*)(PGresult*)>;

std::string ServerProgram(const char* name) {
    return std::string(VORELTA_PG_BIN_DIR) + '/' + name;
}

bool IsRoot() {
    return geteuid() == 0;
}

std::string CurrentUserName() {
    const passwd* entry = getpwuid(geteuid());
    if (!entry) {
        throw PgError("test server: the account running the tests has no name");
    }
    return entry->pw_name;
}

// The server account must get through the temporary folders above the cluster's, which the test
// runner makes private to root: a capability lets it through without opening them to everyone.
std::string TraversalCapability() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return {};
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("CapEff:")) {
            const qulonglong effective = line.mid(7).trimmed().toULongLong(nullptr, 16);
            constexpr int kDacOverride = 1, kDacReadSearch = 2;
            if (effective & (1ULL << kDacReadSearch)) {
                return "dac_read_search";
            }
            if (effective & (1ULL << kDacOverride)) {
                return "dac_override";
            }
        }
    }
    return {};
}

// The server refuses to run as root, so root hands its programs to the postgres account.
Command AsServerAccount(Command command) {
    if (!IsRoot()) {
        return command;
    }
    Command prefix = {"setpriv", std::string("--reuid=") + kServerAccount,
                      std::string("--regid=") + kServerAccount, "--init-groups"};
    if (const std::string cap = TraversalCapability(); !cap.empty()) {
        prefix.push_back("--inh-caps=+" + cap);
        prefix.push_back("--ambient-caps=+" + cap);
    }
    prefix.push_back("--");
    command.insert(command.begin(), prefix.begin(), prefix.end());
    return command;
}

std::vector<char*> ArgumentVector(const Command& command) {
    std::vector<char*> argv;
    for (const std::string& argument : command) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, size_t(n));
    }
    return text;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs a program in the folder and waits for it; throws with what it printed when it fails. The
// output goes to an anonymous file, never a pipe: a server the program leaves running would hold
// a pipe open for ever.
void Run(const Command& command, const QString& folder, const std::string& what) {
    const int output = memfd_create("vorelta-pg-output", MFD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
    const QByteArray cwd = QFile::encodeName(folder);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.constData());
    pid_t pid = 0;
    const std::vector<char*> argv = ArgumentVector(command);
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    const int exitCode = spawned == 0 ? WaitFor(pid) : -1;
    const std::string printed = spawned == 0 ? ReadAll(output) : std::strerror(spawned);
    close(output);
    if (exitCode != 0) {
        throw PgError("test server: " + what + " failed (" + command.front() + "):\n" + printed);
    }
}

// A conninfo value in quotes, so that folders with spaces or quotes stay one value.
QString QuotedValue(const QString& value) {
    QString quoted = value;
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + quoted + u'\'';
}

// A password file field: backslash and colon are escaped.
QString PassFileField(const QString& value) {
    QString escaped = value;
    return escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u':', QStringLiteral("\\:"));
}

void WriteFile(const QString& path, const QByteArray& text, QIODevice::OpenMode mode) {
    QFile file(path);
    if (!file.open(mode) || file.write(text) != text.size()) {
        throw PgError("test server: cannot write " + path.toStdString());
    }
}

void IgnoreNotice(void*, const char*) {}

// The harness's own connections: text as UTF-8, notices such as "does not exist, skipping"
// kept out of the test output.
PgConnection ConnectChecked(const QString& conninfo) {
    PgConnection connection = ConnectPg(conninfo + QStringLiteral(" client_encoding=UTF8"));
    if (PQstatus(connection.get()) != CONNECTION_OK) {
        throw PgError("test server: " + std::string(PQerrorMessage(connection.get())));
    }
    PQsetNoticeProcessor(connection.get(), IgnoreNotice, nullptr);
    return connection;
}

PgResult Exec(PGconn* connection, const QByteArray& sql) {
    PgResult result(PQexec(connection, sql.constData()), PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
        throw PgError(PQerrorMessage(connection), state ? state : "");
    }
    return result;
}

QByteArray Identifier(PGconn* connection, const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    char* escaped = PQescapeIdentifier(connection, utf8.constData(), size_t(utf8.size()));
    const QByteArray identifier(escaped);
    PQfreemem(escaped);
    return identifier;
}

QByteArray Literal(PGconn* connection, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    char* escaped = PQescapeLiteral(connection, utf8.constData(), size_t(utf8.size()));
    const QByteArray literal(escaped);
    PQfreemem(escaped);
    return literal;
}

bool RoleExists(PGconn* connection, const QString& name) {
    const QByteArray query = "select 1 from pg_roles where rolname = " + Literal(connection, name);
    return PQntuples(Exec(connection, query).get()) > 0;
}

}  // namespace

PgConnection ConnectPg(const QString& conninfo) {
    return PgConnection(PQconnectdb(conninfo.toUtf8().constData()), PQfinish);
}

PgCluster::PgCluster() : owner_(getpid()) {
    try {
        initialise();
    } catch (...) {
        removeEverything();
        throw;
    }
}

PgCluster::~PgCluster() {
    removeEverything();
}

void PgCluster::initialise() {
    QByteArray folder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/vorelta-pg-XXXXXX"));
    if (!mkdtemp(folder.data())) {
        throw PgError("test server: cannot create a folder in " + QDir::tempPath().toStdString());
    }
    folder_ = QFile::decodeName(folder);
    if (IsRoot()) {
        const passwd* account = getpwnam(kServerAccount);
        if (!account || chown(folder.constData(), account->pw_uid, account->pw_gid) != 0) {
            throw PgError("test server: the postgres account is missing or cannot own the folder");
        }
    }
    writePassFile();
    Run(AsServerAccount({ServerProgram("initdb"), "--pgdata=data", "--username", kSuperuser,
                         "--encoding=UTF8", "--locale=C", "--no-sync", "--auth-local=peer",
                         "--auth-host=reject"}),
        folder_, "initdb");
    writeServerSettings();
    start();
    createDatabase(QStringLiteral("vorelta"));
}

// A quick throwaway server: nothing is forced to disk, no TCP, the superuser is whoever runs
// the tests (peer, mapped in pg_ident.conf) and every other role proves its password.
void PgCluster::writeServerSettings() const {
    QString socketDir = folder_;
    const QString settings = QStringLiteral(
                                 "listen_addresses = ''\n"
                                 "unix_socket_directories = '%1'\n"
                                 "port = %2\n"
                                 "fsync = off\n"
                                 "synchronous_commit = off\n"
                                 "full_page_writes = off\n"
                                 "wal_level = replica\n"
                                 "max_wal_senders = 4\n"
                                 "shared_buffers = 16MB\n"
                                 "max_connections = 30\n"
                                 "autovacuum = off\n")
                                 .arg(socketDir.replace(u'\'', QStringLiteral("''")))
                                 .arg(kPort);
    const QString data = folder_ + QStringLiteral("/data/");
    WriteFile(data + "postgresql.conf", settings.toUtf8(), QIODevice::Append);
    WriteFile(data + "pg_hba.conf",
              QByteArray("local all ") + kSuperuser + " peer map=tests\n" + "local replication " +
                  kSuperuser + " peer map=tests\n" + "local all all scram-sha-256\n",
              QIODevice::WriteOnly | QIODevice::Truncate);
    WriteFile(data + "pg_ident.conf",
              "tests " + QByteArray::fromStdString(CurrentUserName()) + ' ' + kSuperuser + '\n' +
                  "tests " + kServerAccount + ' ' + kSuperuser + '\n',
              QIODevice::WriteOnly | QIODevice::Truncate);
}

void PgCluster::removeEverything() {
    // A child forked from the test process (a death test, say) that exits normally must not
    // take its parent's server along.
    if (getpid() != owner_) {
        return;
    }
    if (standbyRunning_) {
        try {
            Run(AsServerAccount({ServerProgram("pg_ctl"), "--pgdata=standby", "--wait", "--silent",
                                 "--mode=immediate", "stop"}),
                folder_, "stopping the standby");
        } catch (const PgError&) {
        }
    }
    if (running_) {
        try {
            stop();
        } catch (const PgError&) {
            return;  // a server that will not stop keeps its folder; the run then reports both
        }
    }
    if (!folder_.isEmpty()) {
        QDir(folder_).removeRecursively();
    }
}

QString PgCluster::conninfo(const QString& db, const QString& user) const {
    return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4")
        .arg(QuotedValue(folder_))
        .arg(kPort)
        .arg(QuotedValue(db), QuotedValue(user));
}

QString PgCluster::loginConninfo(const QString& user, const QString& db) const {
    return conninfo(db, user) + QStringLiteral(" passfile=") + QuotedValue(passFile());
}

int PgCluster::port() const {
    return kPort;
}

void PgCluster::start() {
    const QString log = folder_ + QStringLiteral("/log");
    try {
        Run(AsServerAccount({ServerProgram("pg_ctl"), "--pgdata=data", "--log=log", "--wait",
                             "--timeout=120", "--silent", "start"}),
            folder_, "starting the server");
    } catch (const PgError& error) {
        QFile file(log);
        file.open(QIODevice::ReadOnly);
        throw PgError(error.what() + ("\nserver log:\n" + file.readAll().toStdString()));
    }
    running_ = true;
}

void PgCluster::stop() {
    Run(AsServerAccount({ServerProgram("pg_ctl"), "--pgdata=data", "--wait", "--timeout=120",
                         "--silent", "--mode=fast", "stop"}),
        folder_, "stopping the server");
    running_ = false;
}

void PgCluster::startStandby() {
    if (standbyRunning_) {
        return;
    }
    Run(AsServerAccount({ServerProgram("pg_basebackup"), "--pgdata=standby",
                         "--write-recovery-conf", "--checkpoint=fast", "--no-sync", "--username",
                         kSuperuser, "--host=" + folder_.toStdString(),
                         "--port=" + std::to_string(kPort)}),
        folder_, "pg_basebackup");
    WriteFile(folder_ + QStringLiteral("/standby/postgresql.conf"),
              QStringLiteral("port = %1\nhot_standby = on\n").arg(kStandbyPort).toUtf8(),
              QIODevice::Append);
    Run(AsServerAccount({ServerProgram("pg_ctl"), "--pgdata=standby", "--log=standby.log", "--wait",
                         "--timeout=120", "--silent", "start"}),
        folder_, "starting the standby");
    standbyRunning_ = true;
}

int PgCluster::standbyPort() {
    return kStandbyPort;
}

void PgCluster::runSql(const QString& sql, const QString& db) const {
    PgConnection connection = ConnectChecked(conninfo(db));
    Exec(connection.get(), sql.toUtf8());
}

QStringList PgCluster::column(const QString& sql, const QString& db) const {
    PgConnection connection = ConnectChecked(conninfo(db));
    const PgResult result = Exec(connection.get(), sql.toUtf8());
    QStringList values;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        values.append(PQgetisnull(result.get(), row, 0)
                          ? QString()
                          : QString::fromUtf8(PQgetvalue(result.get(), row, 0)));
    }
    return values;
}

QStringList PgCluster::keys(const QString& db) const {
    return column(QStringLiteral("select keyname from keys"), db);
}

void PgCluster::createDatabase(const QString& name) const {
    PgConnection connection = ConnectChecked(conninfo(QStringLiteral("postgres")));
    const QByteArray database = Identifier(connection.get(), name);
    Exec(connection.get(), "drop database if exists " + database + " with (force)");
    Exec(connection.get(), "create database " + database);
}

void PgCluster::applySetupScript(const QString& db) const {
    Run({ServerProgram("psql"), "--no-psqlrc", "--quiet", "--set=ON_ERROR_STOP=1",
         "--dbname=" + conninfo(db).toStdString(), "--file=" VORELTA_SERVER_SETUP_SQL},
        folder_, "the setup script");
}

void PgCluster::addLoginRole(const QString& name, const QString& password,
                             const QString& groupRole) {
    PgConnection connection = ConnectChecked(conninfo(QStringLiteral("postgres")));
    PGconn* superuser = connection.get();
    const QByteArray role = Identifier(superuser, name);
    Exec(superuser, (RoleExists(superuser, name) ? "alter role " : "create role ") + role +
                        " login password " + Literal(superuser, password));
    if (!groupRole.isEmpty()) {
        Exec(superuser, "grant " + Identifier(superuser, groupRole) + " to " + role);
    }
    passwords_[name] = password;
    writePassFile();
}

QString PgCluster::passFile() const {
    return folder_ + QStringLiteral("/pgpass");
}

// libpq ignores a password file that others may read.
void PgCluster::writePassFile() const {
    QByteArray text;
    for (auto role = passwords_.cbegin(); role != passwords_.cend(); ++role) {
        text += "*:*:*:" + PassFileField(role.key()).toUtf8() + ':' +
                PassFileField(role.value()).toUtf8() + '\n';
    }
    QFile file(passFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(text) != text.size()) {
        throw PgError("test server: cannot write the password file");
    }
}

PgCluster& SharedPgCluster() {
    static PgCluster cluster;
    static const bool prepared = (cluster.applySetupScript(), true);
    (void)prepared;
    return cluster;
}

}  // namespace vorelta::test
