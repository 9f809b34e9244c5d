#include "platform/win/IpcFrame.h"
#include "platform/win/IpcRuntime.h"
#include "platform/win/Messages.h"
#include "platform/win/bin/msg_peer.h"
#include "support/Child.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace win::ipc;

namespace {

using Clock = std::chrono::steady_clock;

// Every test gets a runtime folder of its own, and its peers are killed when it ends.
class Messages : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/msgtest-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base_ = pattern;
        setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
        folder_ = base_ + "/torvo";
    }

    void TearDown() override
    {
        peers_.clear();  // killed and reaped
        for (const HWND hwnd : windows_)
            DestroyWindow(hwnd);
        fs::remove_all(base_);
    }

    pid_t StartPeer(const std::string& className, const char* option = nullptr)
    {
        std::vector<std::string> argv{std::string(TORVO_TEST_BIN_DIR) + "/msg_peer", className};
        if (option)
            argv.emplace_back(option);
        testsupport::Child peer(argv);
        const pid_t pid = peer.Pid();
        if (peer.Started())
            peers_.push_back(std::move(peer));
        return pid;
    }

    HWND WaitForWindow(const char* className)
    {
        HWND hwnd = 0;
        testsupport::Eventually([&] { return (hwnd = FindWindowA(className, nullptr)) != 0; });
        return hwnd;
    }

    // Exit code of a peer (128 + N for signal N), or -1 when it is still running after the wait.
    int WaitForExit(pid_t pid)
    {
        for (auto& peer : peers_)
            if (peer.Pid() == pid)
                return peer.Wait().value_or(-1);
        return -1;
    }

    HWND MakeWindow(const char* className, WNDPROC proc)
    {
        const HWND hwnd = CreateWindowA(className, "test", std::move(proc));
        if (hwnd)
            windows_.push_back(hwnd);
        return hwnd;
    }

    std::string base_;
    std::string folder_;
    std::vector<testsupport::Child> peers_;
    std::vector<HWND> windows_;
};

std::vector<std::uint8_t> Record(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// User and system CPU time of another process, from /proc.
double CpuSecondsOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)  // state .. cmajflt
        fields >> skip;
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int ConnectRaw(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    timeval limit{static_cast<time_t>(testsupport::PeerDeadline.count()), 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

std::string SocketOf(const std::string& folder, HWND hwnd)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (auto parsed = ParseSocketName(entry.path().filename().string()); parsed && parsed->hwnd == hwnd)
            return entry.path().string();
    return {};
}

}  // namespace

TEST(MessageFrames, RoundTripAndRefusals)
{
    Frame sent;
    sent.kind = FrameKind::Send;
    sent.hwnd = 0x12345678;
    sent.message = WM_COPYDATA;
    sent.wParam = 0xFFFFFFFFFFull;
    sent.value = 42;
    sent.hasCopyData = true;
    sent.payload = Record(565);
    Frame posted;
    posted.kind = FrameKind::Post;
    posted.hwnd = 7;
    posted.message = WM_QUIT;
    posted.value = static_cast<std::uint64_t>(-5);

    // Two frames in one stream, fed a byte at a time.
    std::vector<std::uint8_t> stream = EncodeFrame(sent);
    const auto second = EncodeFrame(posted);
    stream.insert(stream.end(), second.begin(), second.end());
    FrameReader reader;
    std::vector<Frame> frames;
    for (const std::uint8_t byte : stream) {
        ASSERT_EQ(reader.Feed(&byte, 1), 1u);
        if (reader.State() == FrameReader::Status::Ready)
            frames.push_back(reader.Take());
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(reader.Partial());
    EXPECT_EQ(frames[0].hwnd, sent.hwnd);
    EXPECT_EQ(frames[0].wParam, sent.wParam);
    EXPECT_EQ(frames[0].value, 42u);
    EXPECT_EQ(frames[0].payload, sent.payload);
    EXPECT_EQ(frames[1].kind, FrameKind::Post);
    EXPECT_EQ(static_cast<LPARAM>(frames[1].value), -5);

    auto refused = [](std::vector<std::uint8_t> bytes) {
        FrameReader r;
        r.Feed(bytes.data(), bytes.size());
        return r.State() == FrameReader::Status::Refused;
    };
    auto oversized = EncodeFrame(sent);
    oversized[32] = 0x01, oversized[33] = 0x00, oversized[34] = 0x10, oversized[35] = 0x00;  // 1 MiB + 1
    EXPECT_TRUE(refused(oversized));
    auto badMagic = EncodeFrame(sent);
    badMagic[0] ^= 1;
    EXPECT_TRUE(refused(badMagic));
    Frame postedCopy = sent;  // a pointer payload cannot be posted
    postedCopy.kind = FrameKind::Post;
    EXPECT_TRUE(refused(EncodeFrame(postedCopy)));
    Frame plainWithData = posted;
    plainWithData.payload = {1, 2, 3};
    EXPECT_TRUE(refused(EncodeFrame(plainWithData)));

    // Exactly the limit is fine, and a cut frame is only partial.
    sent.payload.assign(MaxFramePayload, 0xAB);
    auto big = EncodeFrame(sent);
    FrameReader limit;
    limit.Feed(big.data(), big.size() - 1);
    EXPECT_TRUE(limit.Partial());
    limit.Feed(&big.back(), 1);
    EXPECT_EQ(limit.State(), FrameReader::Status::Ready);
}

TEST(MessageRuntime, NamesAndPermissionChecks)
{
    for (const std::string name : {"TFormTorvo", "a.b%c d/é", "x"}) {
        const auto parsed = ParseSocketName(SocketName(name, 0xDEADBEEF));
        ASSERT_TRUE(parsed) << name;
        EXPECT_EQ(parsed->className, name);
        EXPECT_EQ(parsed->hwnd, 0xDEADBEEFu);
    }
    EXPECT_EQ(SocketName("T/F", 1), "T%2FF.00000001.sock");
    for (const char* foreign : {"notes.txt", "T.0000000G.sock", ".00000001.sock", "a b.00000001.sock",
                                "T.00000000.sock", "T%2.00000001.sock"})
        EXPECT_FALSE(ParseSocketName(foreign)) << foreign;

    struct stat info {};
    info.st_mode = S_IFDIR | 0700;
    info.st_uid = 1000;
    EXPECT_TRUE(FolderIsPrivate(info, 1000));
    EXPECT_FALSE(FolderIsPrivate(info, 1001));
    info.st_mode = S_IFDIR | 0710;
    EXPECT_FALSE(FolderIsPrivate(info, 1000));
    info.st_mode = S_IFLNK | 0700;
    EXPECT_FALSE(FolderIsPrivate(info, 1000));

    EXPECT_TRUE(PeerIsAcceptable(1000, 55, 1000, 0));
    EXPECT_TRUE(PeerIsAcceptable(1000, 55, 1000, 55));
    EXPECT_FALSE(PeerIsAcceptable(0, 55, 1000, 0));
    EXPECT_FALSE(PeerIsAcceptable(1000, 56, 1000, 55));
}

TEST_F(Messages, RuntimeFolderIsPrivateOrRefused)
{
    const HWND hwnd = MakeWindow("TPrivate", nullptr);
    ASSERT_NE(hwnd, 0u);
    struct stat info {};
    ASSERT_EQ(stat(folder_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(SocketOf(folder_, hwnd).empty());

    chmod(folder_.c_str(), 0755);
    EXPECT_EQ(CreateWindowA("TOther", "", nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(FindWindowA("TNone", nullptr), 0u);
    chmod(folder_.c_str(), 0700);

    // A folder planted by someone else (only root can make one to test with).
    if (geteuid() == 0) {
        ASSERT_EQ(chown(folder_.c_str(), 65534, 65534), 0);
        EXPECT_EQ(CreateWindowA("TOther", "", nullptr), 0u);
        ASSERT_EQ(chown(folder_.c_str(), 0, 0), 0);
    }
    // A symlink in place of the folder is not followed.
    fs::rename(folder_, base_ + "/real");
    fs::create_directory_symlink(base_ + "/real", folder_);
    EXPECT_EQ(CreateWindowA("TOther", "", nullptr), 0u);
}

TEST_F(Messages, LocalWindowsAndQueue)
{
    std::vector<UINT> seen;
    const HWND a = MakeWindow("TLocalA", [&](HWND, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
        seen.push_back(msg);
        return static_cast<LRESULT>(wParam) * 2;
    });
    const HWND b = MakeWindow("", nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(HandleOwner(a), getpid());
    EXPECT_EQ(FindWindowA("tlocala", nullptr), a);  // classes compare without case
    EXPECT_EQ(FindWindowA("TLocalA", "test"), a);
    EXPECT_EQ(FindWindowA("TLocalA", "other"), 0u);
    EXPECT_EQ(SendMessageA(a, WM_USER, 21, 0), 42);

    // Posted messages wait for the loop, in order, with filters; the quit comes last.
    PostMessageA(a, WM_USER + 1, 1, 0);
    PostMessageA(b, WM_USER + 2, 2, 0);
    PostQuitMessage(3);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2u);
    ASSERT_TRUE(PeekMessageA(&msg, 0, WM_USER + 2, WM_USER + 2, PM_REMOVE));
    EXPECT_TRUE(WaitMessageFor(0));
    ASSERT_TRUE(GetMessageA(&msg, 0, 0, 0));
    EXPECT_EQ(msg.hwnd, a);
    EXPECT_EQ(DispatchMessageA(&msg), 2);
    EXPECT_FALSE(GetMessageA(&msg, 0, 0, 0));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_FALSE(WaitMessageFor(0));
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER, WM_USER + 1}));

    // A window may destroy itself from its own procedure.
    const HWND self =
        MakeWindow("TSelf", [](HWND hwnd, UINT, WPARAM, LPARAM) -> LRESULT { return DestroyWindow(hwnd); });
    EXPECT_EQ(SendMessageA(self, WM_CLOSE, 0, 0), TRUE);
    EXPECT_FALSE(IsWindow(self));
    EXPECT_EQ(SendMessageA(self, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(FindWindowA("TSelf", nullptr), 0u);
    EXPECT_TRUE(SocketOf(folder_, self).empty());
}

TEST_F(Messages, CopyDataAcrossProcesses)
{
    const pid_t pid = StartPeer("TFormPeer");
    ASSERT_GT(pid, 0);
    const HWND peer = WaitForWindow("TFormPeer");
    ASSERT_NE(peer, 0u);
    EXPECT_EQ(HandleOwner(peer), pid);
    EXPECT_TRUE(IsWindow(peer));
    EXPECT_EQ(FindWindowA("tformpeer", nullptr), peer);
    EXPECT_TRUE(SetForegroundWindow(peer));
    EXPECT_FALSE(DestroyWindow(peer));

    const auto record = Record(565);
    const COPYDATASTRUCT data{100, 565, record.data()};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)),
              msg_peer::Checksum(100, record.data(), record.size()));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    const COPYDATASTRUCT empty{9, 0, nullptr};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty)), msg_peer::Checksum(9, nullptr, 0));
    EXPECT_EQ(SendMessageA(peer, msg_peer::WM_ADD, 40, -2), 38);

    const auto tooBig = Record(MaxFramePayload + 1);
    const COPYDATASTRUCT big{1, static_cast<DWORD>(tooBig.size()), tooBig.data()};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&big)), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(PostMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));

    // Posted messages arrive in order and WM_QUIT ends the peer's loop.
    EXPECT_TRUE(PostMessageA(peer, msg_peer::WM_COUNT, 5, 0));
    EXPECT_TRUE(PostMessageA(peer, msg_peer::WM_COUNT, 6, 0));
    EXPECT_TRUE(PostMessageToClass("TFormPeer", WM_QUIT, 30, 0));
    EXPECT_EQ(WaitForExit(pid), 41);
    EXPECT_FALSE(IsWindow(peer));
    EXPECT_EQ(FindWindowA("TFormPeer", nullptr), 0u);
    EXPECT_FALSE(PostMessageToClass("TFormPeer", WM_QUIT, 0, 0));
}

TEST_F(Messages, NestedReplyWhileSenderWaits)
{
    int depth = 0;
    std::vector<std::uint8_t> echoed;
    bool nestedInsideSend = false;
    const HWND own = MakeWindow("TFormCaller", [&](HWND, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        if (msg != WM_COPYDATA)
            return 0;
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        nestedInsideSend = depth == 1 && data->dwData == msg_peer::NestedTag;
        const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
        echoed.assign(bytes, bytes + data->cbData);
        return 1000;
    });
    ASSERT_NE(own, 0u);
    const pid_t pid = StartPeer("TFormNested", "nested");
    const HWND peer = WaitForWindow("TFormNested");
    ASSERT_NE(peer, 0u);

    const auto record = Record(565);
    const COPYDATASTRUCT data{1, 565, record.data()};
    ++depth;
    const LRESULT result = SendMessageA(peer, WM_COPYDATA, own, reinterpret_cast<LPARAM>(&data));
    --depth;
    EXPECT_EQ(result, msg_peer::Checksum(1, record.data(), record.size()) + 1000);
    EXPECT_TRUE(nestedInsideSend);
    EXPECT_EQ(echoed, std::vector<std::uint8_t>(record.rbegin(), record.rend()));

    EXPECT_TRUE(PostMessageA(peer, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForExit(pid), 0);
}

TEST_F(Messages, FilteredGetMessageSleepsPastOtherQueuedMessages)
{
    const HWND own = MakeWindow("TFormFiltered", nullptr);
    ASSERT_NE(own, 0u);
    const pid_t pid = StartPeer("TFormEcho");
    const HWND peer = WaitForWindow("TFormEcho");
    ASSERT_NE(peer, 0u);

    // Queued messages that the filter leaves out must not keep the wait awake.
    ASSERT_TRUE(PostMessageA(own, WM_USER + 50, 1, 0));
    PostQuitMessage(0);
    constexpr int DelayMs = 300;
    ASSERT_TRUE(PostMessageA(peer, msg_peer::WM_ECHO_LATER, own, DelayMs));
    const auto wallStart = Clock::now();
    const double cpuStart = ProcessCpuSeconds();
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, own, msg_peer::WM_ECHOED, msg_peer::WM_ECHOED));
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    EXPECT_EQ(msg.message, msg_peer::WM_ECHOED);
    EXPECT_GE(wall, DelayMs / 2000.0);
    EXPECT_LT(cpu, wall / 4) << "busy wait: " << cpu << " s of CPU in " << wall << " s";

    // What the filter skipped is still there, in order.
    ASSERT_TRUE(GetMessageA(&msg, 0, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 50u);
    EXPECT_FALSE(GetMessageA(&msg, 0, 0, 0));

    EXPECT_TRUE(PostMessageA(peer, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForExit(pid), 0);
}

TEST_F(Messages, BusyWindowIsRetriedThenTimesOut)
{
    const pid_t pid = StartPeer("TFormBusy", "stall");
    const HWND peer = WaitForWindow("TFormBusy");
    ASSERT_NE(peer, 0u);
    const std::string path = SocketOf(folder_, peer);

    // Fill the peer's listen queue while it takes nothing.
    std::vector<int> queued;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    for (int i = 0; i < 1000; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ASSERT_EQ(errno, EAGAIN);
            close(fd);
            break;
        }
        queued.push_back(fd);
    }
    ASSERT_LT(queued.size(), 1000u);

    // Nobody makes room: the post fails after a bounded wait, as a timeout, not a dead window.
    auto start = Clock::now();
    EXPECT_FALSE(PostMessageA(peer, msg_peer::WM_COUNT, 5, 0));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_TRUE(SocketOf(folder_, peer) == path) << "a busy window's name must stay";
    for (const int fd : queued)  // they stay queued until the peer takes them
        close(fd);

    // The peer starts taking connections 300 ms from now: the post waits for it and gets through.
    ASSERT_EQ(kill(pid, SIGUSR1), 0);
    start = Clock::now();
    ASSERT_TRUE(PostMessageA(peer, msg_peer::WM_COUNT, 5, 0));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
    ASSERT_TRUE(PostMessageA(peer, WM_QUIT, 1, 0));
    EXPECT_EQ(WaitForExit(pid), 6);
}

TEST_F(Messages, WindowOutOfDescriptorsHangsUpInsteadOfSpinning)
{
    const pid_t pid = StartPeer("TFormNoFiles", "nofiles");
    const HWND peer = WaitForWindow("TFormNoFiles");
    ASSERT_NE(peer, 0u);
    // The peer cannot take this connection; it must drop it and go back to sleep. Whether the post
    // is refused depends on whether the peer hangs up before or after the frame is written.
    PostMessageA(peer, msg_peer::WM_COUNT, 1, 0);
    const double cpuStart = CpuSecondsOf(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu = CpuSecondsOf(pid) - cpuStart;
    ASSERT_LT(cpu, 0.5 / 4) << "the peer spins on a connection it cannot take";
    // A sender is hung up on rather than left waiting.
    EXPECT_EQ(SendMessageA(peer, msg_peer::WM_ADD, 1, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Messages, KilledPeerIsCleanedUp)
{
    const pid_t pid = StartPeer("TFormGone");
    const HWND peer = WaitForWindow("TFormGone");
    ASSERT_NE(peer, 0u);
    const std::string socketPath = SocketOf(folder_, peer);
    ASSERT_FALSE(socketPath.empty());
    kill(pid, SIGKILL);
    EXPECT_EQ(WaitForExit(pid), 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(socketPath));

    EXPECT_FALSE(IsWindow(peer));
    const COPYDATASTRUCT data{1, 0, nullptr};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(FindWindowA("TFormGone", nullptr), 0u);
    EXPECT_FALSE(fs::exists(socketPath));

    // A stale name whose pid is alive but nobody listens (the pid was reused) is removed too.
    const std::string reused = folder_ + "/" + SocketName("TFormGone", MakeHandle(getppid(), 9));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, reused.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    EXPECT_EQ(FindWindowA("TFormGone", nullptr), 0u);
    EXPECT_FALSE(fs::exists(reused));

    // A peer that dies inside its handler leaves its sender with 0 and an error, not waiting.
    const pid_t dying = StartPeer("TFormDying");
    const HWND doomed = WaitForWindow("TFormDying");
    ASSERT_NE(doomed, 0u);
    EXPECT_EQ(SendMessageA(doomed, msg_peer::WM_VANISH, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(WaitForExit(dying), 7);
}

TEST_F(Messages, MalformedFramesDropOnlyTheirConnection)
{
    const pid_t pid = StartPeer("TFormTarget");
    const HWND peer = WaitForWindow("TFormTarget");
    ASSERT_NE(peer, 0u);
    const std::string path = SocketOf(folder_, peer);

    Frame frame;
    frame.kind = FrameKind::Send;
    frame.hwnd = peer;
    frame.message = WM_COPYDATA;
    frame.hasCopyData = true;
    frame.payload = Record(565);
    const auto good = EncodeFrame(frame);

    auto header = good;  // claims 16 MiB of data
    header[34] = 0x00, header[35] = 0x01;
    auto wrongWindow = frame;
    wrongWindow.hwnd = peer ^ (1u << 30);
    const std::vector<std::vector<std::uint8_t>> attempts{{header.begin(), header.begin() + FrameHeaderSize},
                                                          EncodeFrame(wrongWindow),
                                                          std::vector<std::uint8_t>(100, 'x')};
    for (const auto& bytes : attempts) {
        const int fd = ConnectRaw(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
        char reply[64];
        const ssize_t got = recv(fd, reply, sizeof reply, 0);
        EXPECT_TRUE(got == 0 || (got < 0 && errno == ECONNRESET)) << "dropped without an answer, got " << got;
        close(fd);
    }
    // Truncated: the sender vanishes halfway through the data.
    const int cut = ConnectRaw(path);
    ASSERT_GE(cut, 0);
    ASSERT_EQ(send(cut, good.data(), good.size() / 2, MSG_NOSIGNAL), static_cast<ssize_t>(good.size() / 2));
    close(cut);

    // The receiver still serves everyone else, a raw client speaking the protocol included.
    const COPYDATASTRUCT data{0, 565, frame.payload.data()};
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)),
              msg_peer::Checksum(0, frame.payload.data(), 565));
    const int fd = ConnectRaw(path);
    ASSERT_EQ(send(fd, good.data(), good.size(), MSG_NOSIGNAL), static_cast<ssize_t>(good.size()));
    std::uint8_t reply[FrameHeaderSize];
    ASSERT_EQ(recv(fd, reply, sizeof reply, MSG_WAITALL), static_cast<ssize_t>(FrameHeaderSize));
    close(fd);
    Frame answer;
    std::size_t size = 0;
    ASSERT_EQ(CheckFrameHeader(reply, answer, size), "");
    EXPECT_EQ(answer.kind, FrameKind::Reply);
    EXPECT_EQ(static_cast<LRESULT>(answer.value), msg_peer::Checksum(0, frame.payload.data(), 565));

    EXPECT_TRUE(PostMessageA(peer, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForExit(pid), 0);
}

TEST_F(Messages, PostFloodOnOneConnectionIsCapped)
{
    const HWND own = MakeWindow("TFormFlooded", nullptr);
    ASSERT_NE(own, 0u);
    Frame post;
    post.kind = FrameKind::Post;
    post.hwnd = own;
    post.message = WM_USER + 7;
    const auto one = EncodeFrame(post);
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 12000; ++i)
        stream.insert(stream.end(), one.begin(), one.end());

    const int fd = ConnectRaw(SocketOf(folder_, own));
    ASSERT_GE(fd, 0);
    MSG msg;
    auto serve = [&] { PeekMessageA(&msg, 0, WM_USER + 8, WM_USER + 8, PM_NOREMOVE); };  // takes nothing
    std::size_t sent = 0;
    const auto end = Clock::now() + testsupport::PeerDeadline;
    while (sent < stream.size() && Clock::now() < end) {
        const ssize_t n = send(fd, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else if (errno != EAGAIN)
            break;  // hung up on
        serve();
    }
    EXPECT_TRUE(testsupport::Eventually(
        [&] {
            serve();
            char byte = 0;
            const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN);
        },
        std::chrono::seconds(10)))
        << "the flood was taken whole";
    close(fd);

    std::size_t queued = 0;
    while (queued <= stream.size() && PeekMessageA(&msg, own, 0, 0, PM_REMOVE))
        ++queued;
    EXPECT_EQ(queued, 10000u);

    // Once the queue has room again, peers are heard as before.
    const int next = ConnectRaw(SocketOf(folder_, own));
    ASSERT_EQ(send(next, one.data(), one.size(), MSG_NOSIGNAL), static_cast<ssize_t>(one.size()));
    close(next);
    EXPECT_TRUE(testsupport::Eventually([&] { return PeekMessageA(&msg, own, 0, 0, PM_REMOVE) != FALSE; }));
}

TEST_F(Messages, OtherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    bool called = false;
    const HWND own = MakeWindow("TFormGuarded", [&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        called = true;
        return 1;
    });
    ASSERT_NE(own, 0u);
    const std::string path = SocketOf(folder_, own);
    // Open the way on purpose, so that only the credential check stands between.
    chmod(base_.c_str(), 0711);
    chmod(folder_.c_str(), 0711);
    chmod(path.c_str(), 0777);

    Frame frame;
    frame.kind = FrameKind::Send;
    frame.hwnd = own;
    frame.message = WM_USER;
    const auto bytes = EncodeFrame(frame);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        const int fd = ConnectRaw(path);
        if (fd < 0)
            _exit(4);
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        char reply[64];
        _exit(recv(fd, reply, sizeof reply, 0) <= 0 ? 0 : 5);  // 0: hung up on without an answer
    }
    int status = -1;
    const auto end = Clock::now() + testsupport::PeerDeadline;
    MSG msg;
    while (Clock::now() < end && waitpid(child, &status, WNOHANG) == 0) {
        PeekMessageA(&msg, 0, 0, 0, PM_REMOVE);
        WaitMessageFor(10);
    }
    chmod(folder_.c_str(), 0700);
    if (waitpid(child, nullptr, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        FAIL() << "the other user's client was neither answered nor hung up on";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(called);
}

TEST_F(Messages, HostileCallersCannotStopOthersBeingServed)
{
    const pid_t pid = StartPeer("TFormServed");
    const HWND peer = WaitForWindow("TFormServed");
    ASSERT_NE(peer, 0u);
    const std::string path = SocketOf(folder_, peer);
    const auto record = Record(565);
    const COPYDATASTRUCT data{0, 565, record.data()};
    const LRESULT expected = msg_peer::Checksum(0, record.data(), 565);

    // A posted WM_COPYDATA whose lParam would be read as a pointer: the connection goes, the
    // window stays.
    Frame posted;
    posted.kind = FrameKind::Post;
    posted.hwnd = peer;
    posted.message = WM_COPYDATA;
    posted.value = 0x4141414141414141ull;
    const auto bytes = EncodeFrame(posted);
    const int fd = ConnectRaw(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    char byte = 0;
    EXPECT_LE(recv(fd, &byte, 1, 0), 0);
    close(fd);
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), expected);

    // Another process holds 1000 idle connections and trickles a frame a byte at a time.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        std::vector<int> held;
        for (int i = 0; i < 1000; ++i)
            held.push_back(ConnectRaw(path));
        const int slow = ConnectRaw(path);
        [[maybe_unused]] const auto n = write(ready[1], "x", 1);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            send(slow, &bytes[i], 1, MSG_NOSIGNAL);
            sleep(1);
        }
        _exit(0);
    }
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);
    // This test process is the third caller, and is served at once.
    const auto start = Clock::now();
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), expected);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));

    // A connection that sends nothing is hung up on after a few seconds.
    const int idle = ConnectRaw(path);
    ASSERT_GE(idle, 0);
    const auto idleStart = Clock::now();
    EXPECT_EQ(recv(idle, &byte, 1, 0), 0);
    EXPECT_LT(Clock::now() - idleStart, std::chrono::seconds(9));
    close(idle);

    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_TRUE(PostMessageA(peer, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForExit(pid), 0);
}

TEST_F(Messages, AFullConnectionTableStillServesANewCaller)
{
    const pid_t pid = StartPeer("TFormFull");
    const HWND peer = WaitForWindow("TFormFull");
    ASSERT_NE(peer, 0u);
    const std::string path = SocketOf(folder_, peer);
    const auto record = Record(565);
    const COPYDATASTRUCT data{0, 565, record.data()};

    // Twenty processes of this user hold sixteen idle connections each: more than the table holds.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    std::vector<pid_t> holders;
    for (int p = 0; p < 20; ++p) {
        const pid_t holder = fork();
        if (holder == 0) {
            std::vector<int> held;
            for (int i = 0; i < 16; ++i)
                held.push_back(ConnectRaw(path));
            [[maybe_unused]] const auto n = write(ready[1], "x", 1);
            pause();
            _exit(0);
        }
        holders.push_back(holder);
    }
    char byte = 0;
    for (std::size_t i = 0; i < holders.size(); ++i)
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);
    // Queued behind all of theirs, this caller's connection still finds room.
    EXPECT_EQ(SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)),
              msg_peer::Checksum(0, record.data(), 565));
    for (const pid_t holder : holders) {
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
    }
    EXPECT_TRUE(PostMessageA(peer, WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForExit(pid), 0);
}

TEST_F(Messages, AWindowTooBusyToTakeAConnectionIsStillFound)
{
    // Another process listens under a window's name but never accepts: its queue fills up.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(OpenRuntimeFolder(), folder_);
    const pid_t owner = fork();
    if (owner == 0) {
        const std::string path = folder_ + "/" + SocketName("TFormBusy", MakeHandle(getpid(), 1));
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 0) != 0)
            _exit(1);
        [[maybe_unused]] const auto n = write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);
    const std::string path = folder_ + "/" + SocketName("TFormBusy", MakeHandle(owner, 1));
    std::vector<int> queued;
    for (int i = 0; i < 8; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        queued.push_back(fd);
    }
    // A second copy of a program must see the first here, not start beside it.
    EXPECT_EQ(FindWindowA("TFormBusy", nullptr), MakeHandle(owner, 1));
    EXPECT_TRUE(fs::exists(path));
    for (const int fd : queued)
        close(fd);
    kill(owner, SIGKILL);
    waitpid(owner, nullptr, 0);
}
