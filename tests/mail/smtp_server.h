// SMTP servers for the mail tests, stopped when the object goes: a real one (smtp_server.sh: python3
// -m aiosmtpd on a free loopback port) with mail_summary.py's account of a message it received, and
// a scripted one that answers the reply under test (smtp_script.py).
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/scripted.h"

inline std::string RunForOutput(const std::string& command) {
    std::string out;
    Deadline deadline("the command " + command);
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

// A server process started by command, which prints "PORT PID" once it listens; stopped when the
// object goes. port() is 0 when it did not start.
class ServerProcess {
  public:
    explicit ServerProcess(const std::string& command) {
        std::sscanf(RunForOutput(command).c_str(), "%d %d", &port_, &pid_);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    int port() const { return port_; }

  private:
    int port_ = 0, pid_ = 0;
};

class SmtpServer : public ServerProcess {
  public:
    // Messages are kept in folder as 1.eml, 2.eml, ...
    explicit SmtpServer(const std::string& folder)
        : ServerProcess("bash " QUILLORY_MAIL_TEST_DIR "/smtp_server.sh '" + folder + "'"), folder_(folder) {}
    std::string Message(int n) const { return folder_ + "/" + std::to_string(n) + ".eml"; }

  private:
    std::string folder_;
};

inline std::string TestPython() {
    const char* python = std::getenv("QUILLORY_TEST_PYTHON");
    return python ? python : "/usr/bin/python3";
}

// smtp_script.py: an ordinary server except at step, where it answers reply (or, for "stall",
// falls silent); it quits on its own after seconds.
class ScriptedSmtpServer : public ServerProcess {
  public:
    ScriptedSmtpServer(const std::string& step, const std::string& reply, int seconds = 120)
        : ServerProcess(TestPython() + " " QUILLORY_MAIL_TEST_DIR "/smtp_script.py " + step + " '" + reply +
                        "' " + std::to_string(seconds)) {}
};

// Subject, From, To, the note's lines and each attachment compared with file.
inline std::string MailSummary(const std::string& message, const std::string& file) {
    return RunForOutput(TestPython() + " " QUILLORY_MAIL_TEST_DIR "/mail_summary.py '" + message +
                        "' --file '" + file + "'");
}
