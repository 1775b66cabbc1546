// A real SMTP server for the mail tests (smtp_server.sh: python3 -m aiosmtpd on a free loopback
// port), stopped when the object goes, and mail_summary.py's account of a message it received.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

inline std::string RunForOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

class SmtpServer {
  public:
    // Messages are kept in folder as 1.eml, 2.eml, ...; port() is 0 when the server did not start.
    explicit SmtpServer(const std::string& folder) : folder_(folder) {
        std::sscanf(RunForOutput("bash " QUILLORY_MAIL_TEST_DIR "/smtp_server.sh '" + folder + "'").c_str(),
                    "%d %d", &port_, &pid_);
    }
    ~SmtpServer() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    int port() const { return port_; }
    std::string Message(int n) const { return folder_ + "/" + std::to_string(n) + ".eml"; }

  private:
    std::string folder_;
    int port_ = 0, pid_ = 0;
};

// Subject, From, To, the note's lines and each attachment compared with file.
inline std::string MailSummary(const std::string& message, const std::string& file) {
    const char* python = std::getenv("QUILLORY_TEST_PYTHON");
    return RunForOutput(std::string(python ? python : "/usr/bin/python3") +
                        " " QUILLORY_MAIL_TEST_DIR "/mail_summary.py '" + message + "' --file '" + file +
                        "'");
}
