// A real SMTP server for the mail tests: python3 -m aiosmtpd on a free loopback port, keeping each
// message it accepts as N.eml in a folder (smtp_recorder.py), stopped when the object goes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

// The interpreter that Debian's python3-aiosmtpd belongs to.
inline std::string TestPython() {
    const char* p = std::getenv("QUILLORY_TEST_PYTHON");
    return p && *p ? p : "/usr/bin/python3";
}

class SmtpServer {
  public:
    explicit SmtpServer(const std::string& folder) : folder_(folder) {}
    ~SmtpServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    // False when it did not answer within ten seconds.
    bool Start() {
        port_ = FreePort();
        const std::string listen = "127.0.0.1:" + std::to_string(port_);
        const std::string python = TestPython();
        pid_ = fork();
        if (pid_ == 0) {
            setenv("PYTHONPATH", QUILLORY_MAIL_TEST_DIR, 1);
            const std::string log = folder_ + "/server.log";
            freopen(log.c_str(), "w", stdout);
            freopen(log.c_str(), "a", stderr);
            execl(python.c_str(), python.c_str(), "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
                  "smtp_recorder.Recorder", folder_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200; ++i) {
            if (Answers()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    int port() const { return port_; }
    // The message file the server wrote n-th (from 1), or "" when there is none.
    std::string Message(int n) const {
        std::string path = folder_ + "/" + std::to_string(n) + ".eml";
        return access(path.c_str(), R_OK) == 0 ? path : std::string();
    }

  private:
    static int FreePort() {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
        close(s);
        return ntohs(a.sin_port);
    }
    bool Answers() const {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port_));
        bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(s);
        return ok;
    }
    std::string folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// mail_summary.py's lines for a received message, its attachments compared with file.
inline std::string MailSummary(const std::string& message, const std::string& file) {
    const std::string command = TestPython() + " " + QUILLORY_MAIL_TEST_DIR + "/mail_summary.py '" + message +
                                "' --file '" + file + "'";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}
