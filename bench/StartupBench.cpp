// Times the start of the real program on a real X server: from starting the process until its
// main window is mapped on the screen, with the peak resident memory at that moment, for an
// empty key.mdb and for 100,000 and 1,000,000 keywords, beside the floor: a program that shows
// nothing but an empty Qt window. Prints the medians.
//
//   startup_bench [--repetitions=N]     (needs an X server: DISPLAY, e.g. under xvfb-run -a)
//
// The program runs from a folder of its own beside a key.mdb made for the run; no window
// manager is needed, the window is mapped straight onto the root window.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchRun.h"
#include "tests/support/KeyDatabase.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double milliseconds = 0;
    double residentMb = 0;
};

// The peak resident memory of a running process, in MB.
double PeakResidentMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

// Waits for a top-level window to be mapped; false after `timeout`.
bool WaitForMappedWindow(xcb_connection_t* x, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            const bool mapped =
                (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
            free(event);
            if (mapped) {
                return true;
            }
        }
        pollfd descriptor{xcb_get_file_descriptor(x), POLLIN, 0};
        poll(&descriptor, 1, 10);
    }
    return false;
}

Sample StartOnce(xcb_connection_t* x, const std::string& program) {
    char* arguments[] = {const_cast<char*>(program.c_str()), nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    if (!WaitForMappedWindow(x, std::chrono::seconds(30))) {
        std::fprintf(stderr, "no window from %s\n", program.c_str());
        std::exit(1);
    }
    Sample sample;
    sample.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    sample.residentMb = PeakResidentMb(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return sample;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const vorelta::bench::Arguments arguments = vorelta::bench::ParseArguments(argc, argv);
    // Under xvfb-run there is no session: the program gets a runtime folder of its own.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "startup_bench needs an X server (try xvfb-run -a)\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    std::printf("\n%-26s %18s %16s %14s\n", "program", "start to window", "peak resident",
                "time / floor");
    const auto report = [&](const std::string& what, const std::string& program, double& floor) {
        StartOnce(x, program);  // the first start also reads the program and its files from disk
        std::vector<double> times;
        std::vector<double> memory;
        for (int i = 0; i < arguments.repetitions; ++i) {
            const Sample sample = StartOnce(x, program);
            times.push_back(sample.milliseconds);
            memory.push_back(sample.residentMb);
        }
        const double time = Median(times);
        floor = floor > 0 ? floor : time;
        std::printf("%-26s %15.1f ms %13.1f MB %14.2f\n", what.c_str(), time, Median(memory),
                    time / floor);
    };
    double floor = 0;
    report("a bare Qt window (floor)", BARE_WINDOW, floor);
    for (const int keywords : {0, 100000, 1000000}) {
        vorelta::test::TempProgramDir dir;
        dir.createKeys(vorelta::test::NumberedKeywords(keywords));
        const std::string program = (dir.path() + QStringLiteral("/Vorelta")).toStdString();
        QFile::copy(QStringLiteral(VORELTA_PROGRAM), QString::fromStdString(program));
        report("Vorelta, " + std::to_string(keywords) + " keywords", program, floor);
    }
    xcb_disconnect(x);
    return 0;
}
