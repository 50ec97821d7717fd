#include "tests/records/pg_cluster.h"

#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/records/records_test_util.h"

namespace records_test {
namespace {

constexpr int kPort = 5432;  // the socket is in the cluster's own folder: no clash

// The newest server installed (Debian keeps them under /usr/lib/postgresql/N).
std::string ServerPrograms() {
    std::string best;
    int bestVersion = -1;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string bin = entry.path().string() + "/bin";
        const int version = std::atoi(entry.path().filename().c_str());
        if (::access((bin + "/initdb").c_str(), X_OK) == 0 && version > bestVersion) {
            best = bin;
            bestVersion = version;
        }
    }
    return best;
}

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

PgCluster::~PgCluster() {
    std::string ignored;
    if (running_) Freeze(false, &ignored);
    if (running_) StopServer(&ignored);
    std::error_code error;
    if (!root_.empty()) std::filesystem::remove_all(root_, error);
}

bool PgCluster::Run(const std::string& tool, const std::string& arguments, std::string* error) {
    // The server refuses to run as root: it runs as nobody then, in a folder
    // nobody owns. Every tool ends by itself (pg_ctl waits at most -t).
    std::string command = "cd " + Quoted(root_) + " && ";
    if (::geteuid() == 0) command += "runuser -u nobody -- ";
    command += Quoted(bin_ + "/" + tool) + " " + arguments + " >>" + Quoted(root_ + "/tools.log") +
               " 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    *error = tool + " failed:\n" + FileText(root_ + "/tools.log") + FileText(root_ + "/server.log");
    return false;
}

bool PgCluster::Create(std::string* error) {
    bin_ = ServerPrograms();
    if (bin_.empty()) {
        *error = "no PostgreSQL server under /usr/lib/postgresql (package postgresql)";
        return false;
    }
    char folder[] = "/tmp/kelvane-pg-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        *error = "cannot make a temporary folder";
        return false;
    }
    root_ = folder;
    unsigned uid = 0, gid = 0;
    if (::geteuid() == 0 && (!NobodyIds(&uid, &gid) || ::chown(folder, uid, gid) != 0)) {
        *error = "cannot hand " + root_ + " to user nobody";
        return false;
    }
    if (!Run("initdb", "-D data -U kelvane --auth=trust -E UTF8 --no-sync", error)) return false;
    std::ofstream config(root_ + "/data/postgresql.conf", std::ios::app);
    config << "listen_addresses = ''\n"
           << "unix_socket_directories = '" << root_ << "'\n"
           << "port = " << kPort << "\n"
           << "fsync = off\n";
    config.close();
    return config.good() && StartServer(error);
}

bool PgCluster::StartServer(std::string* error) {
    running_ = Run("pg_ctl", "-D data -l server.log -w -t 60 start", error);
    return running_;
}

bool PgCluster::StopServer(std::string* error) {
    if (!Run("pg_ctl", "-D data -m fast -w -t 60 stop", error)) return false;
    running_ = false;
    return true;
}

bool PgCluster::Freeze(bool frozen, std::string* error) {
    std::ifstream pidFile(root_ + "/data/postmaster.pid");
    long postmaster = 0;
    if (!(pidFile >> postmaster) || postmaster <= 0) {
        *error = "no postmaster.pid";
        return false;
    }
    std::vector<long> pids{postmaster};
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        // /proc/<pid>/stat: pid (comm) state ppid ...
        const std::string stat = FileText(entry.path().string() + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        long parent = 0;
        if (fields >> state >> parent && parent == postmaster) pids.push_back(std::stol(name));
    }
    for (const long pid : pids) {
        if (::kill(static_cast<pid_t>(pid), frozen ? SIGSTOP : SIGCONT) != 0) {
            *error = "cannot signal process " + std::to_string(pid);
            return false;
        }
    }
    return true;
}

std::string PgCluster::url() const {
    return "postgresql:///postgres?host=" + root_ + "&port=" + std::to_string(kPort) +
           "&user=kelvane&connect_timeout=5";
}

std::string PgCluster::Value(const std::string& sql, std::string* error) const {
    PGconn* conn = PQconnectdb(url().c_str());
    std::string value;
    if (PQstatus(conn) != CONNECTION_OK) {
        *error = PQerrorMessage(conn);
    } else {
        PGresult* result = PQexec(conn, sql.c_str());
        if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) {
            value = PQgetvalue(result, 0, 0);
        } else {
            *error = PQresultErrorMessage(result);
        }
        PQclear(result);
    }
    PQfinish(conn);
    return value;
}

}  // namespace records_test
