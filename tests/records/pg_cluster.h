// A throwaway PostgreSQL server for the tests: a fresh cluster in a
// temporary folder, listening only on a Unix socket in that folder, run as
// user "nobody" when the tests run as root. Removed with the object.
#pragma once

#include <string>

struct pg_conn;

namespace records_test {

class PgCluster {
public:
    PgCluster() = default;
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // initdb and the first start; false with the reason (and the server's log).
    bool Create(std::string* error);
    bool StartServer(std::string* error);
    bool StopServer(std::string* error);
    // Stops (SIGSTOP) or continues the server and every process it started:
    // a server that accepts connections and then answers nothing.
    bool Freeze(bool frozen, std::string* error);

    // The URL the station's settings would carry.
    std::string url() const;

    // One value (first column of the first row) of a query; "" with error set
    // when the query fails.
    std::string Value(const std::string& sql, std::string* error) const;

private:
    bool Run(const std::string& tool, const std::string& arguments, std::string* error);

    std::string bin_;   // the server's programs
    std::string root_;  // the temporary folder
    bool running_ = false;
};

}  // namespace records_test
