// The browser's UI thread: it sleeps in poll() on the terminal, the inbox
// and the signals, and wakes for a key, a result, a signal or a change on
// the screen that is due (a highlight that ends, a plot frame). It never
// calls the registry.
#include "browse/browse.h"

#include <langinfo.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "browse/browser.h"
#include "browse/inbox.h"
#include "browse/renderer.h"
#include "browse/terminal.h"
#include "browse/worker.h"
#include "istd/exception.h"
#include "istd/signal_handler.h"
#include "istd/unique_fd.h"
#include "rove_params.h"

namespace browse {
namespace {

// Changes that arrive together are drawn together, at most this often; a
// key is drawn at once.
constexpr std::chrono::microseconds c_frame{16667};
// How long quitting waits for the worker to give the server back what it
// holds for this client before the process ends anyway.
constexpr std::chrono::milliseconds c_quitWait{100};

using Clock = std::chrono::steady_clock;

// The signals the browser handles, received on the support library's
// signal thread and handed to the UI thread through a descriptor.
class SignalEvents : public istd::SignalHandler {
public:
    SignalEvents() : m_event(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (!m_event.IsValid()) throw istd::Exception("browse: cannot make an eventfd", true);
        static const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH, SIGTSTP, SIGCONT, 0};
        m_thread = istd::SignalHandlerThread::InstallHandler(*this, signals);
    }
    ~SignalEvents() override {
        if (m_thread) m_thread->Stop();
    }
    SignalEvents(const SignalEvents&) = delete;
    SignalEvents& operator=(const SignalEvents&) = delete;

    void Handle(int signal) override {
        std::uint32_t bit = 0;
        switch (signal) {
            case SIGWINCH: bit = c_resize; break;
            case SIGTSTP: bit = c_suspend; break;
            case SIGCONT: bit = c_redraw; break;
            default: bit = c_quit; break;
        }
        m_pending.fetch_or(bit);
        const std::uint64_t one = 1;
        if (write(m_event.Get(), &one, sizeof one) < 0) {
            // The counter is full: the UI thread is woken anyway.
        }
    }

    int Fd() const { return m_event.Get(); }
    // The signals since the last call, as c_* bits.
    std::uint32_t Take() {
        std::uint64_t count = 0;
        if (read(m_event.Get(), &count, sizeof count) < 0) {
            // Nothing to read.
        }
        return m_pending.exchange(0);
    }

    static constexpr std::uint32_t c_quit = 1, c_resize = 2, c_suspend = 4, c_redraw = 8;

private:
    istd::UniqueFd m_event;
    std::atomic<std::uint32_t> m_pending{0};
    std::shared_ptr<istd::SignalHandlerThread> m_thread;
};

// Figures for the benchmark (VELNOR_BROWSE_STATS=FILE): written at exit.
struct Statistics {
    std::uint64_t frames = 0;
    std::uint64_t notifications = 0;
    std::chrono::microseconds maxChangeToScreen{0};  // notification arrival to the frame that shows it
    std::chrono::microseconds maxChangeWait{0};      // notification arrival to the start of that frame
    std::uint64_t changeFrames = 0;                  // frames that drew notifications
    std::uint64_t lateChangeFrames = 0;              // of those: a change waited longer than a frame
    std::uint64_t skippedChangeFrames = 0;           // of those: a change arrived before the frame before
    std::chrono::microseconds maxKeyToScreen{0};
    std::chrono::microseconds maxFrame{0};           // render and present
    Clock::time_point firstScreen{};                 // the start node's level drawn
    Clock::time_point start = Clock::now();

    void Write(const char* file) const {
        std::ofstream out(file);
        auto us = [](std::chrono::microseconds d) { return d.count(); };
        out << "frames " << frames << "\n"
            << "notifications " << notifications << "\n"
            << "max_change_to_screen_us " << us(maxChangeToScreen) << "\n"
            << "max_change_wait_us " << us(maxChangeWait) << "\n"
            << "change_frames " << changeFrames << "\n"
            << "late_change_frames " << lateChangeFrames << "\n"
            << "skipped_change_frames " << skippedChangeFrames << "\n"
            << "max_key_to_screen_us " << us(maxKeyToScreen) << "\n"
            << "max_frame_us " << us(maxFrame) << "\n"
            << "first_screen_us "
            << (firstScreen == Clock::time_point{} ? -1
                                                   : std::chrono::duration_cast<std::chrono::microseconds>(firstScreen - start).count())
            << "\n";
    }
};

Charset_e LocaleCharset() {
    // Only the character type: numbers keep the "C" locale's form.
    std::setlocale(LC_CTYPE, "");
    return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0 ? Charset_e::eUtf8 : Charset_e::eAscii;
}

bool ColoursWanted() {
    const char* noColour = std::getenv("NO_COLOR");
    return !noColour || *noColour == '\0';
}

// How long ppoll may sleep until `due` (to the microsecond: a frame that
// is due is not put off by a rounded millisecond); none: until an event.
const timespec* PollTimeout(Clock::time_point now, Clock::time_point due, timespec& timeout) {
    if (due == Clock::time_point::max()) return nullptr;
    const auto us = due <= now ? 0 : std::chrono::duration_cast<std::chrono::microseconds>(due - now).count() + 1;
    const long long capped = std::min<long long>(us, 60'000'000);
    timeout.tv_sec = static_cast<time_t>(capped / 1'000'000);
    timeout.tv_nsec = static_cast<long>(capped % 1'000'000) * 1000;
    return &timeout;
}

// The UI loop, until q, Ctrl-C, a signal or a fatal error.
void RunLoop(Browser& browser, Terminal& terminal, Inbox& inbox, SignalEvents& signals, Statistics& stats) {
    const Theme theme = terminal.Colours() > 0 ? Theme::Coloured(terminal.Colours()) : Theme::Monochrome();
    Screen screen;
    bool dirty = true;
    bool drawNow = true;
    Clock::time_point lastDraw{};
    Clock::time_point oldestUndrawn = Clock::time_point::max();
    Clock::time_point keyAt = Clock::time_point::max();
    bool startDrawn = false;
    // The worker's results and the notifications that arrived: applied to
    // the model; true when there were any.
    auto applyResults = [&](Clock::time_point now) {
        const std::vector<Result> results = inbox.Take();
        for (const Result& result : results) {
            if (const auto* n = std::get_if<NotificationResult>(&result)) {
                ++stats.notifications;
                oldestUndrawn = std::min(oldestUndrawn, n->arrived);
            }
            browser.Apply(result, now);
        }
        return !results.empty();
    };
    browser.Resize(terminal.Cols(), terminal.Rows());
    browser.Start();
    for (;;) {
        Clock::time_point now = Clock::now();
        if (dirty && (drawNow || now - lastDraw >= c_frame)) {
            // What arrived while the last results were applied is drawn in
            // this frame, not one frame later.
            applyResults(now);
            Render(browser, theme, now, screen);
            terminal.Present(screen);
            const Clock::time_point drawn = Clock::now();
            ++stats.frames;
            stats.maxFrame = std::max(stats.maxFrame, std::chrono::duration_cast<std::chrono::microseconds>(drawn - now));
            if (oldestUndrawn != Clock::time_point::max()) {
                stats.maxChangeToScreen = std::max(
                    stats.maxChangeToScreen, std::chrono::duration_cast<std::chrono::microseconds>(drawn - oldestUndrawn));
                stats.maxChangeWait = std::max(
                    stats.maxChangeWait, std::chrono::duration_cast<std::chrono::microseconds>(now - oldestUndrawn));
                ++stats.changeFrames;
                if (now - oldestUndrawn > c_frame) ++stats.lateChangeFrames;
                // Shown late by more than a frame: the frame before this one
                // began after the change arrived and did not show it.
                if (oldestUndrawn < lastDraw) ++stats.skippedChangeFrames;
            }
            if (keyAt != Clock::time_point::max())
                stats.maxKeyToScreen =
                    std::max(stats.maxKeyToScreen, std::chrono::duration_cast<std::chrono::microseconds>(drawn - keyAt));
            if (!startDrawn && browser.Started() && !browser.GetTree().Rows().empty() &&
                browser.GetTree().Rows().front().node->load == Load_e::eLoaded) {
                startDrawn = true;
                stats.firstScreen = drawn;
            }
            oldestUndrawn = keyAt = Clock::time_point::max();
            lastDraw = now;
            dirty = drawNow = false;
        }
        if (browser.QuitRequested()) return;
        const Clock::time_point due = dirty ? lastDraw + c_frame : browser.NextChange(now);
        pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {inbox.Fd(), POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
        timespec timeout{};
        const int ready = ppoll(fds, 3, PollTimeout(now, due, timeout), nullptr);
        if (ready < 0 && errno != EINTR) throw istd::Exception(std::string("browse: ppoll: ") + std::strerror(errno), true);
        now = Clock::now();
        if (fds[2].revents & POLLIN) {
            const std::uint32_t events = signals.Take();
            if (events & SignalEvents::c_quit) return;
            if (events & SignalEvents::c_suspend) terminal.Suspend();
            if (events & (SignalEvents::c_resize | SignalEvents::c_suspend | SignalEvents::c_redraw)) {
                terminal.Resize();
                browser.Resize(terminal.Cols(), terminal.Rows());
                dirty = drawNow = true;
            }
        }
        if ((fds[1].revents & POLLIN) && applyResults(now)) dirty = true;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return;  // the terminal is gone
        if (fds[0].revents & POLLIN) {
            for (const Key& key : terminal.ReadKeys()) {
                if (key.Is(c_ctrlL)) {
                    terminal.Invalidate();
                } else if (key.Is(c_ctrlZ)) {
                    terminal.Suspend();
                    terminal.Resize();
                    browser.Resize(terminal.Cols(), terminal.Rows());
                } else {
                    browser.HandleKey(key, now);
                }
                keyAt = std::min(keyAt, now);
            }
            dirty = drawNow = true;
        }
        if (!dirty && ready == 0) dirty = true;  // a change on the screen is due
    }
}

#ifndef VELNOR_FULL_TEARDOWN
[[noreturn]] void EndNow(int status) {
    std::cout.flush();
    std::cerr.flush();
    _exit(status);
}
#endif

}  // namespace

int RunBrowse() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        std::cerr << "browse needs a terminal" << std::endl;
        return 1;
    }
    if (g_params.paths.size() > 1) throw istd::Exception("browse takes one PATH at most", true);
    const std::string startPath = g_params.paths.empty() ? std::string() : mci::ToString(mci::Tokenize(g_params.paths.front()));
    const Charset_e charset = LocaleCharset();
    const char* statsFile = std::getenv("VELNOR_BROWSE_STATS");
    Statistics stats;

    // The signals first: every thread made afterwards (the worker, the
    // ORB's, the acquisition's) has them blocked.
    SignalEvents signals;
    Inbox inbox;
    WorkerConfig config{g_params.host, g_params.root, g_params.port, startPath};
    auto worker = std::make_unique<Worker>(config, inbox);
    std::string fatal;
    {
        Terminal terminal(Terminal::Options{g_params.mouse, ColoursWanted(), charset});
        BrowserOptions options{RegistryAddress(config), startPath, g_params.readOnly, charset};
        Browser browser(options, *worker);
        RunLoop(browser, terminal, inbox, signals, stats);
        terminal.Restore();
        fatal = browser.FatalError();
    }
    if (statsFile) stats.Write(statsFile);
    if (!fatal.empty()) std::cerr << fatal << std::endl;
    // Ended by q, Ctrl-C or a signal, the run succeeded; a start node that
    // does not exist did not.
    const int status = fatal.empty() ? 0 : 1;
    // The worker gives back what the server holds for this client when the
    // server answers; a call in progress to a server that does not answer
    // must not hold the end of the program.
    worker->Stop();
    if (!worker->WaitStopped(c_quitWait)) {
#ifndef VELNOR_FULL_TEARDOWN
        EndNow(status);
#endif
    }
    worker.reset();
    return status;
}

}  // namespace browse
