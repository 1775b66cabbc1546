#include "mail/provider/keyring.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <memory>

namespace {

constexpr const char* kService = "Quillory Mail";
constexpr int kKeyringTimeoutMs = 5000;

QString KeyOf(const MailAccount& a) {
    return QString::fromStdString(a.user + "@" + a.server + ":" + std::to_string(a.port));
}

// Runs the job in a local event loop until it finishes or the time is up; the job deletes itself
// when it finishes, even after a time-out. True when it finished.
bool RunJob(QKeychain::Job* job, QKeychain::Error& error, QString& text) {
    if (!QCoreApplication::instance()) {
        delete job;
        return false;
    }
    job->setAutoDelete(true);
    job->setInsecureFallback(false);  // never a plain-text file
    auto done = std::make_shared<bool>(false);
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&, done](QKeychain::Job* j) {
        *done = true;
        error = j->error();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(j)) text = read->textData();
        loop.quit();
    });
    QTimer::singleShot(kKeyringTimeoutMs, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    if (!*done) QObject::disconnect(job, nullptr, &loop, nullptr);
    return *done;
}

}  // namespace

KeyringAnswer ReadKeyringPassword(const MailAccount& account, std::string& password) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(KeyOf(account));
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
    if (!RunJob(job, error, text)) return KeyringAnswer::Unavailable;
    if (error == QKeychain::EntryNotFound) return KeyringAnswer::NotFound;
    if (error != QKeychain::NoError) return KeyringAnswer::Unavailable;
    password = text.toStdString();
    return KeyringAnswer::Found;
}

bool WriteKeyringPassword(const MailAccount& account, const std::string& password) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(KeyOf(account));
    job->setTextData(QString::fromStdString(password));
    QKeychain::Error error = QKeychain::OtherError;
    QString unused;
    return RunJob(job, error, unused) && error == QKeychain::NoError;
}

void ForgetKeyringPassword(const MailAccount& account) {
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(KeyOf(account));
    QKeychain::Error error = QKeychain::OtherError;
    QString unused;
    RunJob(job, error, unused);
}
