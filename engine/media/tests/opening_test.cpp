// Openings that must not hang. A stream that opens slowly is stopped by the user: the grabber's
// Stop from another thread, or Ctrl-C and SIGTERM in quilgrab, end the opening at once instead
// of after the time-outs. A FIFO named as a file is refused with a message.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "engine/media/file_audio_grabber.h"
#include "testsupport/http_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

using namespace std::chrono_literals;

// Answers at once, then sends a byte now and then: no socket time-out ever fires, so only the
// open deadline (30 s) or a stop ends the opening.
HttpHandler TrickleForEver() {
    return HttpSlowBody(PatternBytes(100000), 1, 500ms);
}

// Waits until the server has seen a request for `path`. Each run asks for a path of its own:
// under load the server may record a previous run's request only after that run has ended.
bool WaitForRequestTo(const HttpServer& server, const std::string& path) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        for (const auto& request : server.Requests())
            if (request.target.find(path) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
}

TEST(StreamStop, StopFromAnotherThreadEndsTheOpening) {
    HttpServer server;
    server.Handle("*", TrickleForEver());
    auto dir = MakeTempDir("streamstop");
    // A Windows Media stream goes through the reader the grabber creates itself; another URL
    // through the graph's AddSourceFilter.
    struct Case {
        int isStream;
        const char* path;
    } cases[] = {{1, "/live.wma"}, {0, "/live.mp3"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto* grabber = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
        std::string url = server.Url(c.path), output = (dir / "out.wav").string();
        auto opened = std::async(std::launch::async, [&] {
            return grabber->Open(0, c.isStream, 0, url.c_str(), output.c_str(), 0, 0);
        });
        ASSERT_TRUE(WaitForRequestTo(server, c.path));
        EXPECT_EQ(grabber->Stop(), 1);
        // Far less than the open deadline the stream would otherwise run into.
        ASSERT_EQ(opened.wait_for(10s), std::future_status::ready);
        EXPECT_EQ(opened.get(), 0);
        grabber->ReleaseGraph();
        grabber->Destroy();
    }
}

// Runs quilgrab with standard error into a pipe; the child's id.
pid_t StartQuilgrab(const std::vector<std::string>& arguments, int* errorPipe) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv{const_cast<char*>(QUILGRAB_PATH)};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(QUILGRAB_PATH, argv.data());
        _exit(127);
    }
    close(fds[1]);
    *errorPipe = fds[0];
    return pid;
}

// Waits for the child to end; -1 when it is still running after `limit` (it is then killed).
int WaitForExit(pid_t pid, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    close(fd);
    return text;
}

TEST(StreamStop, QuilgrabEndsAnOpeningOnCtrlCAndSigterm) {
    HttpServer server;
    server.Handle("*", TrickleForEver());
    auto dir = MakeTempDir("quilgrabstop");
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const std::string path = "/live-" + std::to_string(signal) + ".wma";
        int errors = -1;
        pid_t pid = StartQuilgrab(
            {"stream", server.Url(path), "--format", "wav", "--out", dir.string()}, &errors);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(WaitForRequestTo(server, path));
        kill(pid, signal);
        int status = WaitForExit(pid, 10s);
        std::string printed = ReadAll(errors);
        // An interrupted run ends with 128 + the signal, at once rather than after the time-out.
        EXPECT_EQ(status, 128 + signal) << printed;
        EXPECT_NE(printed.find("interrupted while opening"), std::string::npos) << printed;
    }
}

TEST(QuilgrabFile, AFifoIsRefusedWithAMessage) {
    auto dir = MakeTempDir("quilgrabfifo");
    auto fifo = dir / "pipe.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int errors = -1;
    pid_t pid =
        StartQuilgrab({"file", fifo.string(), "--format", "wav", "--out", dir.string()}, &errors);
    ASSERT_GT(pid, 0);
    int status = WaitForExit(pid, 20s);
    std::string printed = ReadAll(errors);
    EXPECT_EQ(status, 1) << printed;
    EXPECT_NE(printed.find(fifo.string() + ": not a regular file"), std::string::npos) << printed;
}

}  // namespace
}  // namespace quil::test
