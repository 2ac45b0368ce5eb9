#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

struct pg_conn;

namespace vorelta::test {

// A failure of the test server or of a statement run on it; the message says what the server
// or the program said.
class PgError : public std::runtime_error {
public:
    PgError(const std::string& message, const std::string& sqlState = {})
        : std::runtime_error(message), sqlState_(sqlState) {}
    const std::string& sqlState() const { return sqlState_; }

private:
    std::string sqlState_;
};

// A libpq connection that finishes itself.
using PgConnection = std::unique_ptr<pg_conn, void (*)(pg_conn*)>;
// Connects without throwing: callers look at PQstatus and PQerrorMessage themselves.
PgConnection ConnectPg(const QString& conninfo);

// A PostgreSQL cluster of the tests' own in a folder under the temporary folder, reachable
// through a Unix socket in that folder only. As root the server runs as the postgres account.
// The superuser "postgres" connects without a password from the process running the tests;
// every other role logs in with its password (scram-sha-256).
//
// The constructor creates and starts the cluster with an empty database "vorelta" and throws
// PgError when it cannot; the destructor stops the server and removes the folder.
class PgCluster {
public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // Connection parameters for libpq: the socket folder, port, database and role. No password:
    // append one, or passfile=passFile(), for a login role.
    QString conninfo(const QString& db = QStringLiteral("vorelta"),
                     const QString& user = QStringLiteral("postgres")) const;
    // The same for a login role, with its password from passFile().
    QString loginConninfo(const QString& user, const QString& db = QStringLiteral("vorelta")) const;
    // The socket folder (libpq's host) and the port naming the socket in it.
    const QString& socketDir() const { return folder_; }
    int port() const;

    // Stops the server (fast shutdown: open sessions are ended) and starts it again.
    void stop();
    void start();

    // A hot standby of the cluster, made with pg_basebackup -R and started in the same folder on
    // the port standbyPort() (its own socket there); made once, stopped with the cluster.
    void startStandby();
    static int standbyPort();

    // Runs statements as the superuser; throws PgError with the SQLSTATE on an error.
    void runSql(const QString& sql, const QString& db = QStringLiteral("vorelta")) const;
    // The first column of every row the query delivers, as text; NULL is a null QString.
    QStringList column(const QString& sql, const QString& db = QStringLiteral("vorelta")) const;
    // Every keyname of table keys in the order the server delivers them; a NULL keyname is a
    // null QString.
    QStringList keys(const QString& db = QStringLiteral("vorelta")) const;

    // A fresh, empty database of this name; one the name had already is dropped first.
    void createDatabase(const QString& name) const;
    // Runs docs/server/setup.sql in the database with psql, as an administrator would.
    void applySetupScript(const QString& db = QStringLiteral("vorelta")) const;
    // A login role with this password, a member of groupRole unless it is empty. A role of the
    // name gets the new password and the membership.
    void addLoginRole(const QString& name, const QString& password, const QString& groupRole);
    // A libpq password file (mode 0600) with the passwords of the login roles added so far.
    QString passFile() const;

private:
    void initialise();
    void writeServerSettings() const;
    void writePassFile() const;
    void removeEverything();

    QString folder_;
    bool running_ = false;
    bool standbyRunning_ = false;
    long owner_;  // the process that made the cluster
    QMap<QString, QString> passwords_;
};

// One cluster for every test of a test program, started when first asked for, with docs/
// server/setup.sql applied to its database "vorelta", and stopped when the program exits.
PgCluster& SharedPgCluster();

}  // namespace vorelta::test
