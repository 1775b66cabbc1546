#include "mail/provider/ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

constexpr int kProgressSteps = 1000;
constexpr int kProgressTickMs = 100;
constexpr int kPlainPort = 25;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string S(const QString& s) {
    return s.trimmed().toStdString();
}

QLabel* ProblemLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName("problem");
    label->setWordWrap(true);
    label->setStyleSheet("color: #b00020");
    label->hide();
    return label;
}

void ShowProblem(QLabel* label, const std::string& text) {
    label->setText(Q(text));
    label->setVisible(!text.empty());
}

int SecurityIndex(MailSecurity s) {
    return s == MailSecurity::SslTls ? 0 : s == MailSecurity::StartTls ? 1 : 2;
}

MailSecurity SecurityAt(int index) {
    return index == 0 ? MailSecurity::SslTls : index == 1 ? MailSecurity::StartTls : MailSecurity::None;
}

int PortFor(MailSecurity s) {
    return s == MailSecurity::None ? kPlainPort : DefaultPort(s);
}

// "a@b, Name <c@d>; e@f" as plain addresses; false with the first entry that is not one.
bool ParseAddressList(const QString& text, std::vector<std::string>& out, std::string& bad) {
    out.clear();
    for (QString entry : text.split(QRegularExpression("[,;]"), Qt::SkipEmptyParts)) {
        entry = entry.trimmed();
        if (entry.isEmpty()) continue;
        const qsizetype open = entry.lastIndexOf('<');
        if (open >= 0 && entry.endsWith('>')) entry = entry.mid(open + 1, entry.size() - open - 2).trimmed();
        const std::string address = entry.toStdString();
        if (!IsMailAddress(address)) {
            bad = address;
            return false;
        }
        out.push_back(address);
    }
    return true;
}

QString JoinAddresses(const std::vector<std::string>& list) {
    QStringList parts;
    for (const std::string& a : list) parts << Q(a);
    return parts.join(", ");
}

QString FromText(const OutgoingMail& mail) {
    return mail.fromName.empty() ? Q(mail.from) : Q(mail.fromName) + " <" + Q(mail.from) + ">";
}

}  // namespace

bool CanShowDialogs() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

QWidget* OwnerWidget(ULONG_PTR uiParam) {
    if (!uiParam || !CanShowDialogs()) return nullptr;
    // Compared by address only: a handle that is not one of our widgets is never dereferenced.
    for (QWidget* w : QApplication::allWidgets())
        if (reinterpret_cast<ULONG_PTR>(w) == uiParam) return w;
    return nullptr;
}

bool EditAccount(QWidget* owner, MailAccount& account) {
    QDialog dialog(owner);
    dialog.setWindowTitle("Mail Account");
    auto* form = new QFormLayout;
    auto* server = new QLineEdit(Q(account.server));
    server->setObjectName("server");
    server->setPlaceholderText("smtp.example.com");
    auto* port = new QSpinBox;
    port->setObjectName("port");
    port->setRange(1, 65535);
    port->setValue(account.port > 0 ? account.port : DefaultPort(account.security));
    auto* security = new QComboBox;
    security->setObjectName("security");
    security->addItems({"SSL/TLS", "STARTTLS", "None (a server on this computer only)"});
    security->setCurrentIndex(SecurityIndex(account.security));
    auto* user = new QLineEdit(Q(account.user));
    user->setObjectName("user");
    user->setPlaceholderText("none: no login");
    auto* sender = new QLineEdit(Q(account.sender));
    sender->setObjectName("sender");
    sender->setPlaceholderText("you@example.com");
    auto* name = new QLineEdit(Q(account.displayName));
    name->setObjectName("displayName");
    auto* caFile = new QLineEdit(Q(account.caFile));
    caFile->setObjectName("caFile");
    caFile->setPlaceholderText("the system's certificates");
    auto* browse = new QToolButton;
    browse->setText("...");
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(caFile);
    caRow->addWidget(browse);
    form->addRow("SMTP &server:", server);
    form->addRow("&Port:", port);
    form->addRow("S&ecurity:", security);
    form->addRow("&User name:", user);
    form->addRow("Sender &address:", sender);
    form->addRow("&Display name:", name);
    auto* caLabel = new QLabel("&CA certificates:");
    caLabel->setBuddy(caFile);
    form->addRow(caLabel, caRow);
    auto* note = new QLabel("The password is kept in the desktop's keyring, or asked for when mail is sent.");
    note->setWordWrap(true);
    auto* problem = ProblemLabel(&dialog);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(problem);
    layout->addWidget(buttons);

    // Plain connections are offered only for a server on this computer.
    auto* model = qobject_cast<QStandardItemModel*>(security->model());
    auto updatePlain = [=] {
        const bool local = IsLoopbackHost(S(server->text()));
        if (model) model->item(2)->setEnabled(local);
        if (!local && security->currentIndex() == 2) security->setCurrentIndex(1);
    };
    int previous = security->currentIndex();
    QObject::connect(server, &QLineEdit::textChanged, &dialog, updatePlain);
    QObject::connect(security, &QComboBox::currentIndexChanged, &dialog, [=, &previous](int index) {
        if (port->value() == PortFor(SecurityAt(previous))) port->setValue(PortFor(SecurityAt(index)));
        previous = index;
    });
    QObject::connect(browse, &QToolButton::clicked, &dialog, [&dialog, caFile] {
        QString file = QFileDialog::getOpenFileName(&dialog, "CA Certificates", caFile->text(),
                                                    "Certificates (*.pem *.crt);;All Files (*)");
        if (!file.isEmpty()) caFile->setText(file);
    });
    updatePlain();
    if (!account.server.empty()) ShowProblem(problem, AccountProblem(account));  // why it is asked again

    MailAccount edited;
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        edited.server = S(server->text());
        edited.port = port->value();
        edited.security = SecurityAt(security->currentIndex());
        edited.user = S(user->text());
        edited.sender = S(sender->text());
        edited.displayName = S(name->text());
        edited.caFile = S(caFile->text());
        const std::string why = AccountProblem(edited);
        ShowProblem(problem, why);
        if (why.empty()) dialog.accept();
    });
    if (dialog.exec() != QDialog::Accepted) return false;
    account = edited;
    return true;
}

bool AskPassword(QWidget* owner, const MailAccount& account, bool keyringUsable, std::string& password,
                 bool& remember) {
    QDialog dialog(owner);
    dialog.setWindowTitle("Mail Password");
    auto* label = new QLabel(Q("Password for " + account.user + " on " + account.server + ":"));
    auto* edit = new QLineEdit;
    edit->setObjectName("password");
    edit->setEchoMode(QLineEdit::Password);
    auto* keep = new QCheckBox(keyringUsable ? "&Remember it in the desktop keyring"
                                             : "Remember it (no desktop keyring is available)");
    keep->setObjectName("remember");
    keep->setEnabled(keyringUsable);
    keep->setChecked(keyringUsable);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(keep);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return false;
    password = edit->text().toStdString();
    remember = keyringUsable && keep->isChecked();
    return true;
}

bool EditMessage(QWidget* owner, OutgoingMail& mail, MailAccount& account, bool& accountChanged) {
    accountChanged = false;
    QDialog dialog(owner);
    dialog.setWindowTitle("Send Mail");
    dialog.resize(520, 420);
    auto* from = new QLabel(FromText(mail));
    from->setObjectName("from");
    auto* editAccount = new QPushButton("A&ccount...");
    auto* fromRow = new QHBoxLayout;
    fromRow->addWidget(from, 1);
    fromRow->addWidget(editAccount);
    auto* to = new QLineEdit(JoinAddresses(mail.to));
    to->setObjectName("to");
    to->setPlaceholderText("name@example.com, ...");
    auto* cc = new QLineEdit(JoinAddresses(mail.cc));
    cc->setObjectName("cc");
    auto* subject = new QLineEdit(Q(mail.subject));
    subject->setObjectName("subject");
    QStringList shown;
    for (const MailAttachment& a : mail.attachments) {
        std::string unused;
        const int64_t size = AttachmentSize(a.path, unused);
        shown << Q(a.name) + "  (" + QLocale().formattedDataSize(std::max<int64_t>(size, 0)) + ")";
    }
    auto* attachment = new QLabel(shown.join(", "));
    attachment->setObjectName("attachment");
    auto* form = new QFormLayout;
    form->addRow("From:", fromRow);
    form->addRow("&To:", to);
    form->addRow("&Cc:", cc);
    form->addRow("&Subject:", subject);
    form->addRow("Attachment:", attachment);
    auto* note = new QPlainTextEdit(Q(mail.note));
    note->setObjectName("note");
    auto* problem = ProblemLabel(&dialog);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QPushButton* send = buttons->addButton("&Send", QDialogButtonBox::AcceptRole);
    send->setObjectName("send");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(note, 1);
    layout->addWidget(problem);
    layout->addWidget(buttons);
    send->setDefault(true);  // Enter sends; the dialog must own the button before it can be its default
    to->setFocus();

    QObject::connect(editAccount, &QPushButton::clicked, &dialog, [&] {
        if (!EditAccount(&dialog, account)) return;
        accountChanged = true;
        mail.from = account.sender;
        mail.fromName = account.displayName;
        from->setText(FromText(mail));
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    std::vector<std::string> toList, ccList;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        std::string bad;
        if (!ParseAddressList(to->text(), toList, bad) || !ParseAddressList(cc->text(), ccList, bad)) {
            ShowProblem(problem, "Not a mail address: " + bad);
        } else if (toList.empty() && ccList.empty()) {
            ShowProblem(problem, "Give at least one address to send to.");
        } else if (note->toPlainText().toUtf8().size() > static_cast<qsizetype>(kMaxNoteBytes)) {
            ShowProblem(problem, "The note is too long.");
        } else {
            dialog.accept();
        }
    });
    if (dialog.exec() != QDialog::Accepted) return false;
    mail.to = toList;
    mail.cc = ccList;
    mail.subject = subject->text().toStdString();
    mail.note = note->toPlainText().toStdString();
    return true;
}

DeliveryResult DeliverWithProgress(QWidget* owner, const MailAccount& account, const std::string& password,
                                   const OutgoingMail& mail) {
    int64_t bytes = 0;
    for (const MailAttachment& a : mail.attachments) {
        std::string unused;
        bytes += std::max<int64_t>(AttachmentSize(a.path, unused), 0);
    }
    DeliveryProgress progress;
    DeliveryResult result;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            result = DeliverMail(account, password, mail, &progress);
        } catch (...) {
            result = {MAPI_E_INSUFFICIENT_MEMORY, "Out of memory."};
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    std::unique_ptr<QProgressDialog> window;
    QTimer tick;
    if (bytes >= kProgressThresholdBytes) {
        const QString name = mail.attachments.empty() ? QString() : Q(mail.attachments.front().name);
        window =
            std::make_unique<QProgressDialog>("Sending " + name + "...", "Cancel", 0, kProgressSteps, owner);
        window->setWindowTitle("Send Mail");
        window->setWindowModality(Qt::WindowModal);
        window->setMinimumDuration(0);
        QObject::connect(window.get(), &QProgressDialog::canceled, [&progress] { progress.cancel = true; });
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const int64_t total = std::max<int64_t>(progress.total, 1);
            window->setValue(
                static_cast<int>(std::min<int64_t>(progress.sent, total) * kProgressSteps / total));
        });
        tick.start(kProgressTickMs);
        window->show();
    } else {
        QApplication::setOverrideCursor(Qt::BusyCursor);
    }
    loop.exec();
    worker.join();
    if (!window) QApplication::restoreOverrideCursor();
    return result;
}

void ShowMailError(QWidget* owner, const std::string& text) {
    if (CanShowDialogs())
        QMessageBox::warning(owner, "Mail", Q(text));
    else
        std::fprintf(stderr, "Mail: %s\n", text.c_str());
}
