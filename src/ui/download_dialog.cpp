#include "ui/download_dialog.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <string>

#include "base/messages.hpp"
#include "download/packet_queue.hpp"
#include "download/start_download.hpp"
#include "link/protocol.hpp"
#include "ui/plain_message.hpp"

namespace korvane {
namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ShowRefusal(QWidget* parent, const DownloadRefusal& refusal) {
    ShowPlainMessage(parent, refusal.message);
    if (refusal.beep) {
        QApplication::beep();  // after the box, as the operator dismisses it
    }
}

}  // namespace

DownloadDialog::DownloadDialog(Settings settings, Controls controls, const StartValues& start,
                               QWidget* parent)
    : QDialog(parent),
      settings_(std::move(settings)),
      inbox_([this](const TaggedNotification& tagged) { OnNotification(tagged); }) {
    Layout(controls);
    OnInitDialog(start);
}

DownloadDialog::~DownloadDialog() {
    (void)job_.Stop();
}

void DownloadDialog::OnInitDialog(const StartValues& start) {
    // What the operator named at start-up wins over what was remembered.
    firmware_path_ = start.firmware_path.isNull() ? settings_.FileName() : start.firmware_path;
    address_edit_->setText(start.address.isNull() ? settings_.Ip() : start.address);
    path_edit_->setText(firmware_path_);
}

void DownloadDialog::OnCommand(int id) {
    switch (id) {
        case ID_OK:
            firmware_path_ = path_edit_->text();
            accept();
            break;
        case ID_QUIT:
            reject();
            break;
        case ID_DOWNLOAD:
            OnDownload();
            break;
        case ID_BROWSE:
            OnBrowse();
            break;
        case ID_PING:
            OnPing();
            break;
        case ID_RESTORE_IP:
            OnRestoreIp();
            break;
        case ID_GET_MACHINE_CODE:
            OnGetMachineCode();
            break;
        default:
            break;
    }
}

void DownloadDialog::done(int result) {
    (void)job_.Stop();
    QDialog::done(result);
}

void DownloadDialog::closeEvent(QCloseEvent* event) {
    // The close box fails a running download at once, whatever it waits for;
    // its result still reaches the bar before the dialog ends.
    link_.Abort().store(true);
    link_.Ack().Cancel();
    if (job_.Join()) {
        inbox_.Deliver();
    }
    QDialog::closeEvent(event);
}

void DownloadDialog::keyPressEvent(QKeyEvent* event) {
    // Enter (main or keypad) on a push button presses it (the dialog's own
    // handling); anywhere else it is the OK command.
    const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                       (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter && qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
        OnCommand(ID_OK);
        return;
    }
    QDialog::keyPressEvent(event);
}

void DownloadDialog::OnBrowse() {
    link_.Abort().store(true);  // first: a running download stops before its next datagram
    QFileDialog dialog(this, QStringLiteral("选择固件文件"), settings_.DatFile(),
                       QStringLiteral("Dat Files (*.zip)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // a name that does not exist is accepted
    dialog.setDefaultSuffix(QStringLiteral("zip"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    firmware_path_ = dialog.selectedFiles().constFirst();
    const qsizetype slash = firmware_path_.lastIndexOf(QLatin1Char('/'));
    settings_.SetDatFile(slash > 0 ? firmware_path_.left(slash) : QStringLiteral("/"));
    path_edit_->setText(firmware_path_);
}

void DownloadDialog::OnDownload() {
    const WaitCursor wait_cursor;
    firmware_path_ = path_edit_->text();
    const QString address_text = address_edit_->text();
    in_addr address{};
    (void)StartDownload(
        QFile::encodeName(firmware_path_).toStdString(),
        {.stop_previous = [this] { job_.StopBeforeNext(); },
         .check_devices =
             [&] {
                 const AddressCheck check = CheckDeviceAddress(address_text.toStdString());
                 if (check.refusal) {
                     ShowRefusal(this, *check.refusal);
                 }
                 address = check.address;
                 return !check.refusal;
             },
         .save =
             [&] {
                 settings_.SetFileName(firmware_path_);
                 settings_.SetIp(address_text);
             },
         .refuse = [this](const DownloadRefusal& refusal,
                          std::optional<LoadStatus>) { ShowRefusal(this, refusal); },
         .prime =
             [this](const PacketQueue& queue) {
                 // One step per acknowledged datagram, the end's included: the bar
                 // is full only once the device has accepted the whole image.
                 progress_bar_->SetRange(0, static_cast<int>(queue.size()));
                 progress_bar_->SetPos(0);
                 progress_bar_->SetCaption(FromUtf8(messages::DOWNLOADING));
             },
         .start =
             [&](std::shared_ptr<const PacketQueue> queue) {
                 if (!job_.Start(address, std::move(queue),
                                 settings_.Fast() ? DownloadPace::Fast : DownloadPace::Described)) {
                     OnDownloadDone(0);  // no thread for the job: nothing was sent
                 }
             }});
}

void DownloadDialog::OnNotification(const TaggedNotification& tagged) {
    const Notification& n = tagged.notification;
    if (n.code == UM_MACHINE_CODE) {
        OnMachineCode(n.first, n.second);
        return;
    }
    if (tagged.job != job_number_) {
        return;  // from a job that was abandoned: it must not move this job's bar
    }
    switch (n.code) {
        case UM_PACKET_ACKED:
            OnPacketAcked();
            break;
        case UM_DOWNLOAD_DONE:
            OnDownloadDone(n.first);
            break;
        case UM_UDP_INIT_FAILED:
            ShowPlainMessage(this, messages::UDP_INIT_FAILED);
            break;
        default:
            break;
    }
}

void DownloadDialog::OnPacketAcked() {
    (void)progress_bar_->StepIt();
}

void DownloadDialog::OnDownloadDone(std::uint32_t succeeded) {
    if (succeeded != 0) {
        progress_bar_->SetCaption(FromUtf8(messages::DOWNLOAD_SUCCEEDED));
        return;
    }
    QApplication::beep();
    progress_bar_->SetCaption(FromUtf8(messages::DOWNLOAD_FAILED));
}

}  // namespace korvane
