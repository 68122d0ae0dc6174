// The test Dovecot for C++ tests: dovecot_fixture.py run as a program. It
// prints where the server listens on its first line and serves until
// SIGINT, then removes everything it made. Tests that use it define
// QUIRNEL_IMAP_DIR, the folder holding the fixture.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern char** environ;

namespace mapi::imap::testing {

class Dovecot {
public:
    Dovecot() {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string script = std::string(QUIRNEL_IMAP_DIR) + "/dovecot_fixture.py";
        char* argv[] = {const_cast<char*>("python3"), const_cast<char*>("-u"),
                        const_cast<char*>(script.c_str()), nullptr};
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string line;
        char c = 0;
        while (pid_ > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        ::close(out[0]);
        char ca[512] = {};
        int tls = 0;
        if (std::sscanf(line.c_str(), "dovecot on 127.0.0.1:%d (imaps %d), CA %511s", &port_, &tls,
                        ca) == 3) {
            tlsPort_ = tls;
            ca_ = ca;
            if (!ca_.empty() && ca_.back() == ',') ca_.pop_back();
        }
    }
    ~Dovecot() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGINT);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    bool Up() const { return port_ > 0 && !ca_.empty(); }
    int Port() const { return port_; }
    int TlsPort() const { return tlsPort_; }
    const std::string& Ca() const { return ca_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    int tlsPort_ = 0;
    std::string ca_;
};

}  // namespace mapi::imap::testing
