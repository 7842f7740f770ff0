// The Windows window driven in-process under wine: the dialog of template 102
// made modeless, its message boxes and the file and ping dialogs found by
// their titles and closed from a thread of the test; downloads, commands and
// ping against the simulator (127.0.0.x, the device's own port).
#include "win/download_dialog.hpp"

#include <commdlg.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "base/utf8_path.hpp"
#include "base/wide_text.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"
#include "win/window_text.hpp"
#include "win/window_wait.hpp"

using namespace korvane;
namespace kt = korvane::testing;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

namespace {

// Handles the UI thread's messages until `done` holds or `limit` has passed.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    return PumpMessagesUntil(nullptr, done, limit);
}

// Runs `action` on the UI thread while a thread of the test closes every
// window it opens, telling "title|text": a message box with OK; the others
// (file and ping dialogs) by `other`, which tells the text it saw.
std::vector<std::wstring> CloseModals(const std::function<void()>& action,
                                      const std::function<std::wstring(HWND)>& other = {}) {
    std::vector<std::wstring> said;
    std::mutex mutex;
    std::atomic<bool> stop{false};
    std::atomic<bool> stopped{false};
    const DWORD ui_thread = GetCurrentThreadId();
    std::thread closer([&] {
        while (!stop) {
            std::this_thread::sleep_for(30ms);
            HWND box = nullptr;  // a window the action opened
            EnumThreadWindows(
                ui_thread,
                [](HWND window, LPARAM out) {
                    wchar_t kind[16]{};
                    GetClassNameW(window, kind, 16);
                    const std::wstring title = WindowText(window);
                    if (IsWindowVisible(window) && std::wstring_view(kind) == L"#32770" &&
                        !title.empty() && title != L"DownLoad Firmware") {
                        *reinterpret_cast<HWND*>(out) = window;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&box));
            const std::wstring title = WindowText(box);
            if (box == nullptr) {
                continue;
            }
            std::wstring text = title + L"|";
            if (title != ProgramTitle()) {
                text += other ? other(box) : L"?";
            } else {
                // The text of a message box: its one static control with words.
                EnumChildWindows(
                    box,
                    [](HWND child, LPARAM out) {
                        wchar_t kind[16]{};
                        GetClassNameW(child, kind, 16);
                        if (lstrcmpiW(kind, L"Static") == 0 && !WindowText(child).empty()) {
                            *reinterpret_cast<std::wstring*>(out) += WindowText(child);
                        }
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(&text));
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            const std::lock_guard lock(mutex);
            said.push_back(text);
            while (IsWindow(box) && !stop) {
                std::this_thread::sleep_for(10ms);
            }
        }
        stopped = true;
    });
    action();
    stop = true;
    // The closer may be asking a window of this thread for its text: answer it.
    PumpUntil([&] { return stopped.load(); });
    closer.join();
    return said;
}

}  // namespace

class WindowsDialog : public ::testing::Test {
protected:
    kt::TempDir files_;
    Settings settings_{L"C:\\programs", (files_.Path() / "korvane.ini").wstring()};
    std::unique_ptr<DownloadDialog> Open(std::wstring address, std::wstring path,
                                         DownloadDialog::Controls controls = {}) {
        auto dialog = std::make_unique<DownloadDialog>(
            settings_, controls, DownloadDialog::StartValues{std::move(address), std::move(path)});
        EXPECT_NE(dialog->Create(), nullptr);
        return dialog;
    }
    // A simulated device on the device's own port, where the window sends.
    static std::unique_ptr<devsim::DeviceSimulator> Device(const char* address,
                                                           devsim::FaultPlan faults = {}) {
        auto device = std::make_unique<devsim::DeviceSimulator>(devsim::SimulatorOptions{
            .bind_address = address, .port = DEVICE_PORT, .faults = faults});
        EXPECT_EQ(device->Start(), std::nullopt);
        return device;
    }
    void SetFast(const wchar_t* value) {
        WritePrivateProfileStringW(L"Transfer", L"Fast", value, settings_.File().c_str());
    }
    std::wstring File(const char* name, std::size_t size) {
        return files_.WriteFile(Utf8Path(name), kt::SampleBytes(size)).wstring();
    }
    static void Press(DownloadDialog& dialog, int id) {
        SendMessageW(dialog.Window(), WM_COMMAND, id, 0);
    }
    static std::wstring Caption(DownloadDialog& dialog) {
        return WindowText(dialog.ProgressBar().Window());
    }
    static bool Ended(DownloadDialog& dialog) {
        return Caption(dialog).starts_with(L"Succeed") || Caption(dialog).starts_with(L"Failed");
    }
};

TEST_F(WindowsDialog, FirstRunDefaultsAndTheRefusalsOfEachCommand) {
    {
        DownloadDialog dialog(settings_, {});
        ASSERT_NE(dialog.Create(), nullptr);
        EXPECT_EQ(WindowText(GetDlgItem(dialog.Window(), ID_ADDRESS)), L"192.168.1.88");
        EXPECT_EQ(WindowText(GetDlgItem(dialog.Window(), ID_FIRMWARE_PATH)), L"");
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog.Window(), ID_GET_MACHINE_CODE)));
    }
    const std::wstring file = File("fw.zip", 100);
    const std::wstring box = ProgramTitle() + L"|";
    const struct {
        std::wstring address, path;
        int command;
        std::wstring said;
    } rows[] = {
        {L"127.0.0.2", L"", ID_DOWNLOAD, box + L"Please select firmware!"},
        {L"127.0.0.2", file + L"x", ID_DOWNLOAD,
         box + L"Firmware is not exist, please select firmare again."},
        {L"", file, ID_DOWNLOAD, box + L"IP is empty"},
        {L"192.168.1", file, ID_DOWNLOAD, box + L"IP is invalid"},
        {L"", file, ID_PING, box + L"IP is empty"},
        {L"010.0.0.1", file, ID_RESTORE_IP, box + L"IP is invalid"},
        {L"127.0.0.1 x", file, ID_GET_MACHINE_CODE, box + L"IP is invalid"},
    };
    for (const auto& row : rows) {
        const auto dialog = Open(row.address, row.path, DownloadDialog::Controls::Maintenance);
        EXPECT_THAT(CloseModals([&] { Press(*dialog, row.command); }),
                    ::testing::ElementsAre(row.said))
            << Utf8FromWide(row.address + L" " + row.path);
        EXPECT_EQ(Caption(*dialog), L"");  // nothing started
    }
    EXPECT_EQ(settings_.Ip(), L"192.168.1.88");  // nothing refused is remembered
}

TEST_F(WindowsDialog, DownloadsEndOnTheBarAndAreRemembered) {
    auto device = Device("127.0.0.2");
    {
        // The described cadence: a second DownLoad abandons the first job, whose
        // late acknowledgements must not move the new bar past its end.
        const auto dialog = Open(L"127.0.0.2", File("big.zip", 400'000));
        Press(*dialog, ID_DOWNLOAD);
        ASSERT_TRUE(PumpUntil([&] { return dialog->ProgressBar().Position() >= 2; }));
        Press(*dialog, ID_DOWNLOAD);
        ASSERT_TRUE(PumpUntil([&] { return Ended(*dialog); }));
        EXPECT_EQ(Caption(*dialog), L"Succeed to download");
        EXPECT_EQ(dialog->ProgressBar().Position(), dialog->ProgressBar().Maximum());  // 52
        // Browse stops a download even when the file dialog is cancelled.
        Press(*dialog, ID_DOWNLOAD);
        ASSERT_TRUE(PumpUntil([&] { return dialog->ProgressBar().Position() == 1; }));
        EXPECT_THAT(CloseModals([&] { Press(*dialog, ID_BROWSE); },
                                [](HWND box) {
                                    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
                                    return L"";
                                }),
                    ::testing::ElementsAre(L"选择固件文件|"));
        ASSERT_TRUE(PumpUntil([&] { return Ended(*dialog); }));
        EXPECT_EQ(Caption(*dialog), L"Failed to download");
        // The close box wakes a waiting job at once and ends the dialog.
        Press(*dialog, ID_DOWNLOAD);
        ASSERT_TRUE(PumpUntil([&] { return dialog->ProgressBar().Position() == 1; }));
        const auto closed = std::chrono::steady_clock::now();
        SendMessageW(dialog->Window(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return dialog->Result().has_value(); }));
        EXPECT_LT(std::chrono::steady_clock::now() - closed, 2s);
        EXPECT_EQ(dialog->Result(), IDCANCEL);
    }
    SetFast(L"1");
    const std::wstring firmware = File("固件.zip", 50'000);
    {
        const auto dialog = Open(L"127.0.0.2", firmware);
        Press(*dialog, ID_DOWNLOAD);
        ASSERT_TRUE(PumpUntil([&] { return Ended(*dialog); }));
        EXPECT_EQ(Caption(*dialog), L"Succeed to download");
        EXPECT_EQ(dialog->ProgressBar().Position(), dialog->ProgressBar().Maximum());  // 9
        ASSERT_TRUE(device->WaitForTransfers(2, 5s));
        EXPECT_EQ(device->Transfers().back().image, kt::SampleBytes(50'000));
    }
    EXPECT_EQ(settings_.Ip(), L"127.0.0.2");
    EXPECT_EQ(settings_.FileName(), firmware);  // a Chinese name survives the INI file
    device.reset();
    const auto refusing = Device("127.0.0.3", {.refuse_end = true});
    const auto dialog = Open(L"127.0.0.3", firmware);
    Press(*dialog, ID_DOWNLOAD);
    ASSERT_TRUE(PumpUntil([&] { return Ended(*dialog); }));
    EXPECT_EQ(Caption(*dialog), L"Failed to download");
}

TEST_F(WindowsDialog, BrowseRemembersTheFolderOfThePickedFile) {
    const std::wstring firmware = File("picked.zip", 10);
    const auto dialog = Open(L"127.0.0.2", L"");
    const auto typed = CloseModals([&] { Press(*dialog, ID_BROWSE); },
                                   [&](HWND box) {
                                       // The name box: cmb13 on Windows, edt1 in wine.
                                       for (const int id : {0x47C, 0x480}) {
                                           SetDlgItemTextW(box, id, firmware.c_str());
                                       }
                                       PostMessageW(box, WM_COMMAND, IDOK, 0);
                                       return L"";
                                   });
    EXPECT_THAT(typed, ::testing::ElementsAre(L"选择固件文件|"));
    EXPECT_EQ(WindowText(GetDlgItem(dialog->Window(), ID_FIRMWARE_PATH)), firmware);
    EXPECT_EQ(settings_.DatFile(), files_.Path().wstring());
    EXPECT_EQ(FolderOf(L"D:\\korvane.exe"), L"D:");
    // The profile functions trim values and strip quotes: stored, they come back whole.
    settings_.SetIp(L" 127.0.0.2 \"x\"");
    EXPECT_EQ(settings_.Ip(), L" 127.0.0.2 \"x\"");
}

TEST_F(WindowsDialog, MachineCodeAndPingWaitWithTheWindowAlive) {
    const auto device = Device("127.0.0.4");
    const auto dialog = Open(L"127.0.0.4", L"", DownloadDialog::Controls::Maintenance);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog->Window(), ID_MACHINE_CODE)));
    EXPECT_THAT(CloseModals([&] { Press(*dialog, ID_GET_MACHINE_CODE); }), ::testing::IsEmpty());
    PumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(WindowText(GetDlgItem(dialog->Window(), ID_MACHINE_CODE)),
              L"11223344-5566-7788-6272-61636B6C6531");
    EXPECT_THAT(CloseModals([&] { Press(*dialog, ID_RESTORE_IP); }),
                ::testing::ElementsAre(ProgramTitle() + L"|还原IP地址成功"));

    // While ping runs (some 3 s), the window answers but takes no input.
    SetDlgItemTextW(dialog->Window(), ID_ADDRESS, L"127.0.0.1");
    std::atomic<bool> alive_but_disabled{false};
    std::thread probe([&] {
        std::this_thread::sleep_for(1s);
        DWORD_PTR result = 0;
        alive_but_disabled =
            !IsWindowEnabled(dialog->Window()) &&
            SendMessageTimeoutW(dialog->Window(), WM_NULL, 0, 0, SMTO_BLOCK, 1000, &result) != 0;
    });
    const auto said = CloseModals([&] { Press(*dialog, ID_PING); },
                                  [&](HWND box) {
                                      const std::wstring seen = WindowText(GetDlgItem(box, 1076));
                                      PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
                                      return seen;
                                  });
    probe.join();
    ASSERT_EQ(said.size(), 1U);
    EXPECT_THAT(Utf8FromWide(said[0]), HasSubstr("Ping|"));
    EXPECT_THAT(Utf8FromWide(said[0]), HasSubstr("Sent = 4, Received = 4"));
    EXPECT_TRUE(alive_but_disabled);
}
