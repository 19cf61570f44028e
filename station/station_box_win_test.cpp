// The operator's boxes on Windows, as the operator meets them: Test_QBX_FPGA runs the demo board
// sequence (a passing board, then a failing one) against the simulator with the system's message
// boxes; the test finds each box on the desktop, checks its text, icon, single OK button and that
// it stays on top, checks that the station waits while the box is up, and then clicks OK.
// It needs a display: under Wine an X server (scripts/test-windows.sh runs the tests under
// xvfb-run).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kSerialPrompt = "Install board whith addr=1 and enter serial number (0=exit) ";

// What a message box shows.
struct Box {
    HWND window = nullptr;
    std::string caption;
    std::string text;          // the message, its line breaks as "\n"
    HWND iconControl = nullptr;
    int buttons = 0;
    std::string buttonText;
    bool topmost = false;
};

std::string WindowText(HWND window)
{
    char text[1024] = {};
    ::GetWindowTextA(window, text, sizeof text);
    std::string result(text);
    std::erase(result, '\r');
    return result;
}

BOOL CALLBACK ReadControl(HWND control, LPARAM data)
{
    Box& box = *reinterpret_cast<Box*>(data);
    char className[64] = {};
    ::GetClassNameA(control, className, sizeof className);
    if (_stricmp(className, "Button") == 0) {
        ++box.buttons;
        box.buttonText = WindowText(control);
    } else if (_stricmp(className, "Static") == 0) {
        if ((::GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            box.iconControl = control;
        else if (!WindowText(control).empty())
            box.text = WindowText(control);
    }
    return TRUE;
}

// The visible dialog window of the process, if any.
struct Search {
    DWORD process;
    HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM data)
{
    Search& search = *reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (owner == search.process && ::IsWindowVisible(window) && std::string(className) == "#32770") {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

HWND DialogOf(DWORD process)
{
    Search search{process};
    ::EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Box ReadBox(HWND window)
{
    Box box;
    box.window = window;
    box.caption = WindowText(window);
    box.topmost = (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    ::EnumChildWindows(window, &ReadControl, reinterpret_cast<LPARAM>(&box));
    return box;
}

// A memory bitmap of the screen's format and its pixels.
class Canvas {
public:
    Canvas(int width, int height) : m_Width(width), m_Height(height)
    {
        HDC screen = ::GetDC(nullptr);
        m_Dc = ::CreateCompatibleDC(screen);
        m_Bitmap = ::CreateCompatibleBitmap(screen, width, height);
        ::ReleaseDC(nullptr, screen);
        m_Old = ::SelectObject(m_Dc, m_Bitmap);
    }
    ~Canvas()
    {
        ::SelectObject(m_Dc, m_Old);
        ::DeleteObject(m_Bitmap);
        ::DeleteDC(m_Dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_Dc; }
    std::vector<uint32_t> Pixels() const
    {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), m_Width, -m_Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<uint32_t> pixels(static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height));
        ::GetDIBits(m_Dc, m_Bitmap, 0, static_cast<UINT>(m_Height), pixels.data(), &info, DIB_RGB_COLORS);
        return pixels;
    }

private:
    int m_Width, m_Height;
    HDC m_Dc;
    HBITMAP m_Bitmap;
    HGDIOBJ m_Old;
};

// How many pixels of the icon the box shows differ from the system icon id drawn on the dialog's
// colour: the box's icon is another process's handle, so it is compared as the operator sees it.
size_t IconDifference(HWND iconControl, LPCSTR id)
{
    RECT area;
    ::GetWindowRect(iconControl, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    Canvas shown(width, height), drawn(width, height);
    HDC screen = ::GetDC(nullptr);
    ::BitBlt(shown.Dc(), 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::ReleaseDC(nullptr, screen);
    RECT all{0, 0, width, height};
    ::FillRect(drawn.Dc(), &all, ::GetSysColorBrush(COLOR_3DFACE));
    ::DrawIconEx(drawn.Dc(), 0, 0, ::LoadIconA(nullptr, id), width, height, 0, nullptr, DI_NORMAL);
    const std::vector<uint32_t> a = shown.Pixels(), b = drawn.Pixels();
    size_t differ = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differ += (a[i] & 0xFFFFFF) != (b[i] & 0xFFFFFF) ? 1 : 0;
    return differ;
}

// Test_QBX_FPGA with its standard input given at once and its standard output collected by a
// thread, so that the test sees what it prints while it runs.
class Station {
public:
    Station(const std::string& args, const std::string& input)
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE inRead, outWrite;
        if (!::CreatePipe(&inRead, &m_InWrite, &inherit, 0) || !::CreatePipe(&m_OutRead, &outWrite, &inherit, 0))
            throw std::runtime_error("no pipes");
        ::SetHandleInformation(m_InWrite, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(m_OutRead, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inRead;
        startup.hStdOutput = outWrite;
        startup.hStdError = outWrite;
        std::string command = "\"" + qbxtest::BuiltProgram("Test_QBX_FPGA") + "\" " + args;
        const bool started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                              &startup, &m_Process);
        ::CloseHandle(inRead);
        ::CloseHandle(outWrite);
        if (!started)
            throw std::runtime_error("cannot start " + command);
        DWORD written = 0;
        ::WriteFile(m_InWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        ::CloseHandle(m_InWrite);
        m_Reader = std::thread([this] {
            char buffer[4096];
            DWORD got = 0;
            while (::ReadFile(m_OutRead, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Out.append(buffer, got);
            }
        });
    }
    ~Station()
    {
        if (::WaitForSingleObject(m_Process.hProcess, 0) == WAIT_TIMEOUT)
            ::TerminateProcess(m_Process.hProcess, 1);
        m_Reader.join();
        ::CloseHandle(m_OutRead);
        ::CloseHandle(m_Process.hProcess);
        ::CloseHandle(m_Process.hThread);
    }

    DWORD Id() const { return m_Process.dwProcessId; }
    bool Running() const { return ::WaitForSingleObject(m_Process.hProcess, 0) == WAIT_TIMEOUT; }
    std::string Out()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Out;
    }
    // The exit status once the program ends within the time, else -1.
    int Wait(DWORD ms)
    {
        DWORD code = 0;
        if (::WaitForSingleObject(m_Process.hProcess, ms) != WAIT_OBJECT_0 || !::GetExitCodeProcess(m_Process.hProcess, &code))
            return -1;
        return static_cast<int>(code);
    }

private:
    PROCESS_INFORMATION m_Process{};
    HANDLE m_InWrite = nullptr;
    HANDLE m_OutRead = nullptr;
    std::thread m_Reader;
    std::mutex m_Mutex;
    std::string m_Out;
};

size_t Prompts(const std::string& out)
{
    size_t count = 0;
    for (size_t at = out.find(kSerialPrompt); at != std::string::npos; at = out.find(kSerialPrompt, at + 1))
        ++count;
    return count;
}

// Waits for the station's next box (or its end).
HWND AwaitBox(Station& station, std::chrono::seconds limit)
{
    for (auto end = Clock::now() + limit; Clock::now() < end && station.Running();) {
        if (HWND box = DialogOf(station.Id()))
            return box;
        ::Sleep(50);
    }
    return nullptr;
}

}  // namespace

TEST(OperatorBoxOnWindows, EachBoardEndsWithTheSystemBoxAndTheStationWaitsForItsOk)
{
    char display[256] = {};
    ASSERT_GT(::GetEnvironmentVariableA("DISPLAY", display, sizeof display), 0u)
        << "the message box needs a display: under Wine run the tests with an X server (xvfb-run, as "
           "scripts/test-windows.sh does)";
    // The system's box, not the console's, and the simulated board sequence of the demo.
    ASSERT_EQ(_putenv_s("QBX_CONSOLE_BOX", ""), 0);
    const std::string examples = std::string(QBX_SOURCE_DIR) + "/examples";
    ASSERT_EQ(_putenv_s("USBWIRE_DRIVER", QBX_LIBRARY("qbxsim")), 0);
    ASSERT_EQ(_putenv_s("QBXSIM_BOARD", (examples + "/boards/sequence.json").c_str()), 0);
    qbxtest::TempDir out;
    Station station("\"" + examples + "/a3pe3000.bsd\" \"" + examples + "/interconnect.vec\" \"" + out.Path() + "\"",
                    qbxtest::ReadFile(examples + "/operator-input.txt"));

    const struct {
        std::string firstLine;
        LPCSTR icon;
        LPCSTR otherIcon;
    } expected[] = {
        {"Test Board SUCCESS", IDI_INFORMATION, IDI_ERROR},
        {"Test Board FAIL", IDI_ERROR, IDI_INFORMATION},
    };
    for (size_t board = 0; board < std::size(expected); ++board) {
        SCOPED_TRACE("board " + std::to_string(board + 1));
        HWND window = AwaitBox(station, std::chrono::seconds(120));
        ASSERT_NE(window, nullptr) << "no box came; the station printed:\n" << station.Out();
        const Box box = ReadBox(window);
        const std::string shown = station.Out();
        EXPECT_EQ(box.caption, "Test_QBX_FPGA");
        EXPECT_EQ(box.text.substr(0, box.text.find('\n')), expected[board].firstLine) << box.text;
        if (board == 0) {
            EXPECT_EQ(box.text.substr(box.text.find('\n') + 1, 15), "generated file ");
            EXPECT_TRUE(qbxtest::FileExists(box.text.substr(box.text.find('\n') + 16))) << box.text;
        } else {
            EXPECT_EQ(box.text, "Test Board FAIL\nsee console messages and\nfile " + platform::JoinPath(out.Path(), "error.txt") +
                                    "\nfor vectors errors");
        }
        EXPECT_EQ(box.buttons, 1);
        EXPECT_EQ(box.buttonText, "OK");
        EXPECT_TRUE(box.topmost);
        // The console shows no box of its own, and the station waits while the box is up.
        EXPECT_EQ(shown.find("| Test Board"), std::string::npos);
        ::Sleep(500);
        ASSERT_NE(box.iconControl, nullptr);
        const size_t icon = IconDifference(box.iconControl, expected[board].icon);
        const size_t other = IconDifference(box.iconControl, expected[board].otherIcon);
        EXPECT_EQ(icon, 0u) << "pixels unlike the expected icon; " << other << " unlike the other one";
        EXPECT_GT(other, 0u);
        EXPECT_TRUE(::IsWindow(window));
        EXPECT_TRUE(station.Running());
        EXPECT_EQ(Prompts(station.Out()), board + 1) << "the station went on before the box was acknowledged";

        ASSERT_TRUE(::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
        for (auto end = Clock::now() + std::chrono::seconds(20); Clock::now() < end && ::IsWindow(window);)
            ::Sleep(20);
        EXPECT_FALSE(::IsWindow(window));
    }
    // After the second box the operator's 0 ends the run.
    EXPECT_EQ(station.Wait(30000), 0) << station.Out();
    EXPECT_EQ(Prompts(station.Out()), 3u);
}
