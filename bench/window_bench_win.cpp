// Start-up of the launcher's window against the least a Win32 program needs for the same
// (window_floor.exe plain): process start to the window being visible, median of RUNS starts each;
// and the same floor after what every start of the launcher pays first (window_floor.exe platform).
// (The idle CPU time is measured from the Linux side by bench/window_bench.sh: under Wine,
// GetProcessTimes of another process reports nothing.)
// Then the time of each step of the launcher's start-up, from a copy of the launcher built with
// step timers (launcher_timed.exe, which writes them to startup_steps.txt next to itself).
// usage: window_bench.exe WORK_FOLDER [RUNS]
//   WORK_FOLDER holds VarnholdLauncher.exe, launcher_timed.exe, window_floor.exe and a launcher.ini
//   whose folders exist but hold no game, so a check ends at once without the network.
// Prints the figures and the ratios; exit code 0 when every program started and ended.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/constants.h"
#include "base/handles_win.h"

namespace {

struct Started {
    UniqueKernelHandle process;
    double windowMs = -1;  // until the window was visible; -1 when it never was
};

HWND visibleWindowOf(DWORD processId, const wchar_t* className) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, className, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

Started start(const std::wstring& exe, const std::wstring& arguments, const wchar_t* className) {
    Started started;
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    LARGE_INTEGER frequency, begin, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return started;
    }
    CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    for (int i = 0; i < 60000; ++i) {
        if (visibleWindowOf(info.dwProcessId, className)) {
            QueryPerformanceCounter(&now);
            started.windowMs = (now.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart;
            break;
        }
        if (WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    return started;
}

bool stop(Started& started, const wchar_t* className) {
    const DWORD id = GetProcessId(started.process.get());
    if (HWND window = visibleWindowOf(id, className)) PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(started.process.get(), 15000) == WAIT_OBJECT_0) return true;
    TerminateProcess(started.process.get(), 1);
    return false;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

bool startUpTimes(const std::wstring& exe, const std::wstring& arguments, const wchar_t* className, int runs,
                  std::vector<double>& times) {
    for (int run = 0; run < runs; ++run) {
        Started started = start(exe, arguments, className);
        if (started.windowMs < 0) return false;
        times.push_back(started.windowMs);
        if (!stop(started, className)) return false;
    }
    return true;
}

// One step of the timed launcher's start-up over several runs: when it began and ended (its first
// and last occurrence, in ms since the program's static initialisation) and its summed time (a
// step that runs once per picture occurs many times, on several threads).
struct StepRuns {
    std::vector<double> begins, ends, totals;
};

bool addStepTimes(const std::wstring& path, std::map<std::string, StepRuns>& steps) {
    std::FILE* file = _wfopen(path.c_str(), L"r");
    if (!file) return false;
    std::map<std::string, std::vector<double>> run;  // name -> first begin, last end, total
    char text[256];
    double begin = 0, end = 0;
    while (std::fscanf(file, " %255[^\t]\t%lf\t%lf", text, &begin, &end) == 3) {
        const std::string name = text;
        auto [found, added] = run.try_emplace(name, std::vector<double>{begin, end, 0});
        std::vector<double>& times = found->second;
        times[0] = std::min(times[0], begin);
        times[1] = std::max(times[1], end);
        times[2] += end - begin;
    }
    std::fclose(file);
    for (const auto& [name, times] : run) {
        StepRuns& runs = steps[name];
        runs.begins.push_back(times[0]);
        runs.ends.push_back(times[1]);
        runs.totals.push_back(times[2]);
    }
    return !run.empty();
}

bool printStepTimes(const std::wstring& folder, int runs) {
    const std::wstring exe = folder + L"\\launcher_timed.exe";
    const std::wstring stepsFile = folder + L"\\startup_steps.txt";
    std::map<std::string, StepRuns> steps;
    std::vector<double> visible;
    for (int run = 0; run <= runs; ++run) {
        DeleteFileW(stepsFile.c_str());
        Started started = start(exe, L"", kInstanceMutexName);
        if (started.windowMs < 0 || !stop(started, kInstanceMutexName)) return false;
        if (run == 0) continue;  // the first start loads the program from disk
        visible.push_back(started.windowMs);
        if (!addStepTimes(stepsFile, steps)) return false;
    }
    std::vector<std::pair<double, std::string>> order;
    for (const auto& [name, times] : steps) order.emplace_back(median(times.begins), name);
    std::sort(order.begin(), order.end());
    std::printf(
        "start-up steps of the launcher with step timers (median of %d; ms since its static "
        "initialisation; window visible to this program at %.0f ms after its process start):\n",
        runs, median(visible));
    for (const auto& [begin, name] : order) {
        const StepRuns& times = steps[name];
        std::printf("  %-28s %6.1f .. %6.1f  (%5.1f ms)\n", name.c_str(), begin, median(times.ends),
                    median(times.totals));
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench.exe WORK_FOLDER [RUNS]\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const int runs = argc > 2 ? _wtoi(argv[2]) : 9;
    const std::wstring launcher = folder + L"\\VarnholdLauncher.exe";
    const std::wstring floor = folder + L"\\window_floor.exe";

    std::vector<double> launcherStarts, floorStarts, platformStarts;
    // One start each first: the first start of a program under Wine also loads its libraries
    // from disk, which the runs below should not count.
    std::vector<double> warmUp;
    if (!startUpTimes(launcher, L"", kInstanceMutexName, 1, warmUp) ||
        !startUpTimes(floor, L"plain", L"VarnholdWindowFloor", 1, warmUp) ||
        !startUpTimes(launcher, L"", kInstanceMutexName, runs, launcherStarts) ||
        !startUpTimes(floor, L"plain", L"VarnholdWindowFloor", runs, floorStarts) ||
        !startUpTimes(floor, L"platform", L"VarnholdWindowFloor", 1, warmUp) ||
        !startUpTimes(floor, L"platform", L"VarnholdWindowFloor", runs, platformStarts)) {
        std::fprintf(stderr, "a program did not show its window or did not end\n");
        return 1;
    }
    const double launcherStart = median(launcherStarts);
    const double floorStart = median(floorStarts);
    std::printf(
        "start-up to a visible window (median of %d): launcher %.0f ms, plain window %.0f ms, ratio %.2f "
        "(goal at most 2)\n",
        runs, launcherStart, floorStart, launcherStart / floorStart);
    // How much of that every program pays that loads what the launcher loads, before its own work.
    const double platformStart = median(platformStarts);
    std::printf(
        "  the plain window after loading the launcher's libraries and starting COM and GDI+: %.0f ms, "
        "%.2f of the plain window; launcher / that floor %.2f\n",
        platformStart, platformStart / floorStart, launcherStart / platformStart);

    if (!printStepTimes(folder, runs)) {
        std::fprintf(stderr, "the timed launcher did not show its window or wrote no step times\n");
        return 1;
    }
    return 0;
}
