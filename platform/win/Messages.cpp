#include "platform/win/Messages.h"

#include "platform/win/Errors.h"
#include "platform/win/IpcFrame.h"
#include "platform/win/IpcRuntime.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

using namespace win::ipc;

namespace {

constexpr int ListenBacklog = 64;
constexpr std::size_t MaxConnections = 256;
// One peer process may hold only a few connections, so it cannot lock other callers out.
constexpr std::size_t MaxConnectionsPerPeer = 16;
// A connection that completes no frame for this long is hung up on: a sender writes its frame
// right after connecting, so only an idle or trickling peer gets here.
constexpr int IdleConnectionMs = 5000;
constexpr int ReplyWriteTimeoutMs = 5000;
// One connection may stream any number of posts; beyond this many queued, a peer's are refused.
constexpr std::size_t MaxQueuedMessages = 10000;
// A window whose listen queue is full is busy, not gone: connecting is retried this long.
constexpr int ConnectRetryMs = 2000;
constexpr int ConnectBackoffMaxMs = 50;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct LocalWindow {
    std::string className;
    std::string title;
    WNDPROC proc;
    UniqueFd listener;
    std::string socketPath;
};

// An accepted connection to one of our windows.
struct Connection {
    UniqueFd fd;
    HWND window = 0;
    pid_t peer = 0;
    std::chrono::steady_clock::time_point lastFrame = std::chrono::steady_clock::now();
    FrameReader reader;
    bool busy = false;  // a Send is being dispatched; its reply still has to go out on fd
    bool closed = false;
};
using ConnectionPtr = std::shared_ptr<Connection>;

struct MessageState {
    std::map<HWND, LocalWindow> windows;
    // shared_ptr: nested dispatch may drop a connection while an outer pump still holds it.
    std::vector<ConnectionPtr> connections;
    std::deque<MSG> posted;
    bool quitPending = false;
    int quitCode = 0;
    UniqueFd wakeup{eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};  // readable while messages are queued
    // Given up for a moment when we are out of descriptors, to take and drop a waiting connection.
    UniqueFd spare{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    HWND nextSlot = 1;

    ~MessageState()
    {
        for (const auto& [hwnd, window] : windows)
            if (!window.socketPath.empty())
                ::unlink(window.socketPath.c_str());
    }
};

MessageState& State()
{
    static MessageState state;
    return state;
}

LocalWindow* FindLocal(HWND hwnd)
{
    auto& windows = State().windows;
    const auto it = windows.find(hwnd);
    return it == windows.end() ? nullptr : &it->second;
}

// ---- posted queue ----

void Enqueue(const MSG& msg)
{
    auto& state = State();
    state.posted.push_back(msg);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(state.wakeup.Get(), &one, sizeof one);
}

void ClearWakeupIfIdle()
{
    auto& state = State();
    if (state.posted.empty() && !state.quitPending) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(state.wakeup.Get(), &count, sizeof count);
    }
}

bool Matches(const MSG& msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    if (hwnd != 0 && msg.hwnd != hwnd)
        return false;
    return (filterMin == 0 && filterMax == 0) || (msg.message >= filterMin && msg.message <= filterMax);
}

// ---- sockets ----

bool FillAddress(sockaddr_un& address, const std::string& path)
{
    if (path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool PeerCredentials(int fd, ucred& credentials)
{
    socklen_t size = sizeof credentials;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0;
}

// A non-blocking connect to a full listen queue fails with EAGAIN at once; retry with a growing
// pause until the window takes it or ConnectRetryMs pass. On failure errno says why.
bool ConnectPatiently(int fd, const sockaddr_un& address)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ConnectRetryMs);
    int pauseMs = 1;
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN || std::chrono::steady_clock::now() >= deadline)
            return false;
        ::poll(nullptr, 0, pauseMs);
        pauseMs = std::min(pauseMs * 2, ConnectBackoffMaxMs);
    }
}

// Connects to a window's socket and makes sure that this user's process named by the handle
// listens on it. On failure errno says why.
UniqueFd ConnectToWindow(const std::string& path, HWND hwnd)
{
    sockaddr_un address{};
    if (!FillAddress(address, path)) {
        errno = ENAMETOOLONG;
        return {};
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid() || !ConnectPatiently(fd.Get(), address))
        return {};
    ucred peer{};
    if (!PeerCredentials(fd.Get(), peer) || !PeerIsAcceptable(peer.uid, peer.pid, getuid(), HandleOwner(hwnd))) {
        errno = EACCES;
        return {};
    }
    return fd;
}

struct PublishedWindow {
    std::string path;
    SocketEntry entry;
};

std::vector<PublishedWindow> ListPublished(const std::string& folder)
{
    std::vector<PublishedWindow> found;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return found;
    while (const dirent* item = ::readdir(dir)) {
        if (item->d_name[0] == '.')
            continue;
        if (auto entry = ParseSocketName(item->d_name))
            found.push_back({folder + "/" + item->d_name, std::move(*entry)});
    }
    ::closedir(dir);
    return found;
}

bool ProcessGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A live window answers a connection from its owner; a name whose owner died or that nobody
// listens on any more (the owner was killed, or its pid now belongs to someone else) is removed.
UniqueFd ConnectOrClean(const PublishedWindow& window)
{
    const pid_t owner = HandleOwner(window.entry.hwnd);
    if (owner == ::getpid() || ProcessGone(owner)) {
        ::unlink(window.path.c_str());
        errno = ECONNREFUSED;
        return {};
    }
    UniqueFd fd = ConnectToWindow(window.path, window.entry.hwnd);
    if (!fd.Valid() && (errno == ECONNREFUSED)) {
        ::unlink(window.path.c_str());
        errno = ECONNREFUSED;
    }
    return fd;
}

std::optional<PublishedWindow> ResolveRemote(HWND hwnd)
{
    const std::string folder = OpenRuntimeFolder();
    if (folder.empty())
        return std::nullopt;
    for (auto& window : ListPublished(folder))
        if (window.entry.hwnd == hwnd)
            return window;
    return std::nullopt;
}

// Connects to a live remote window; sets the last error when there is none.
UniqueFd ConnectRemote(HWND hwnd)
{
    if (hwnd == 0 || HandleOwner(hwnd) == ::getpid()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return {};
    }
    const auto window = ResolveRemote(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return {};
    }
    UniqueFd fd = ConnectOrClean(*window);
    if (!fd.Valid()) {
        const int cause = errno;
        SetLastError(cause == EACCES   ? ERROR_ACCESS_DENIED
                     : cause == EAGAIN ? ERROR_TIMEOUT  // alive, but it took no connection in time
                                       : ERROR_INVALID_WINDOW_HANDLE);
    }
    return fd;
}

// Writes all bytes, waiting at most timeoutMs for room; for small frames that always fit.
bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes, int timeoutMs)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        pollfd wait{fd, POLLOUT, 0};
        if (::poll(&wait, 1, timeoutMs) <= 0)
            return false;
    }
    return true;
}

// ---- publishing ----

HWND AllocateHandle()
{
    auto& state = State();
    const pid_t pid = ::getpid();
    if (static_cast<HWND>(pid) > HandlePidMask)
        return 0;
    for (HWND tries = 0; tries < MaxHandleSlot; ++tries) {
        const HWND slot = state.nextSlot;
        // Round robin, so that a destroyed window's handle comes back as late as possible.
        state.nextSlot = slot % MaxHandleSlot + 1;
        const HWND hwnd = MakeHandle(pid, slot);
        if (!state.windows.count(hwnd))
            return hwnd;
    }
    return 0;
}

DWORD Publish(LocalWindow& window, HWND hwnd)
{
    const std::string folder = OpenRuntimeFolder();
    if (folder.empty())
        return ERROR_ACCESS_DENIED;
    // Names left behind by an earlier process that had our pid.
    for (const auto& old : ListPublished(folder))
        if (old.entry.hwnd == hwnd)
            ::unlink(old.path.c_str());

    char hidden[32];
    std::snprintf(hidden, sizeof hidden, "/.new.%08X.sock", static_cast<unsigned>(hwnd));
    const std::string temporary = folder + hidden;
    const std::string path = folder + "/" + SocketName(window.className, hwnd);
    sockaddr_un address{};
    sockaddr_un finalAddress{};
    if (!FillAddress(address, temporary) || !FillAddress(finalAddress, path))
        return ERROR_FILENAME_EXCED_RANGE;
    ::unlink(temporary.c_str());

    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener.Valid())
        return ERROR_TOO_MANY_OPEN_FILES;
    if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return ERROR_ACCESS_DENIED;
    if (::listen(listener.Get(), ListenBacklog) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return ERROR_ACCESS_DENIED;
    }
    window.listener = std::move(listener);
    window.socketPath = path;
    return ERROR_SUCCESS;
}

// ---- serving incoming connections ----

void Close(Connection& connection)
{
    connection.fd.Reset();
    connection.closed = true;
}

// Out of descriptors, a waiting connection would keep the listener readable and every wait
// would return at once: take it with the spare descriptor and hang up on it.
bool DropOneWaiting(int listener)
{
    auto& state = State();
    if (!state.spare.Valid())
        return false;
    state.spare.Reset();
    const bool dropped = UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)).Valid();
    state.spare = UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    return dropped;
}

std::size_t ConnectionsOf(pid_t peer)
{
    const auto& connections = State().connections;
    return static_cast<std::size_t>(
        std::count_if(connections.begin(), connections.end(),
                      [peer](const ConnectionPtr& c) { return !c->closed && c->peer == peer; }));
}

std::size_t LiveConnections()
{
    const auto& connections = State().connections;
    return static_cast<std::size_t>(
        std::count_if(connections.begin(), connections.end(), [](const ConnectionPtr& c) { return !c->closed; }));
}

// With the table full, the oldest idle connection of the peer that holds the most gives way, so
// that processes holding connections cannot keep a new caller out. One in dispatch never does:
// its sender waits for the reply.
bool MakeRoomForNewcomer()
{
    const auto& connections = State().connections;
    std::map<pid_t, std::size_t> held;
    for (const auto& c : connections)
        if (!c->closed)
            ++held[c->peer];
    Connection* victim = nullptr;
    std::size_t most = 0;
    for (const auto& c : connections) {
        if (c->closed || c->busy)
            continue;
        const std::size_t n = held[c->peer];
        if (n > most || (n == most && c->lastFrame < victim->lastFrame)) {
            most = n;
            victim = c.get();
        }
    }
    if (!victim)
        return false;
    Close(*victim);
    return true;
}

void AcceptAll(HWND hwnd)
{
    auto& state = State();
    LocalWindow* window = FindLocal(hwnd);
    if (!window)
        return;
    for (;;) {
        UniqueFd fd(::accept4(window->listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.Valid()) {
            if ((errno == EMFILE || errno == ENFILE) && DropOneWaiting(window->listener.Get()))
                continue;
            return;
        }
        ucred peer{};
        if (!PeerCredentials(fd.Get(), peer) || !PeerIsAcceptable(peer.uid, peer.pid, getuid(), 0))
            continue;
        if (ConnectionsOf(peer.pid) >= MaxConnectionsPerPeer)
            continue;
        if (LiveConnections() >= MaxConnections && !MakeRoomForNewcomer())
            continue;
        auto connection = std::make_shared<Connection>();
        connection->fd = std::move(fd);
        connection->window = hwnd;
        connection->peer = peer.pid;
        state.connections.push_back(std::move(connection));
    }
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    LocalWindow* window = FindLocal(hwnd);
    if (!window || !window->proc)
        return 0;
    // A copy: the procedure may destroy its own window.
    const WNDPROC proc = window->proc;
    return proc(hwnd, msg, wParam, lParam);
}

LRESULT DeliverSent(const Frame& frame)
{
    if (frame.hasCopyData) {
        const COPYDATASTRUCT data{static_cast<std::uintptr_t>(frame.value), static_cast<DWORD>(frame.payload.size()),
                                  frame.payload.data()};
        return CallProc(frame.hwnd, frame.message, frame.wParam, reinterpret_cast<LPARAM>(&data));
    }
    return CallProc(frame.hwnd, frame.message, frame.wParam, static_cast<LPARAM>(frame.value));
}

// Drops the connection if the procedure throws, so that the sender is not left waiting.
class BusyGuard {
public:
    explicit BusyGuard(Connection& connection) : connection_(connection) { connection_.busy = true; }
    ~BusyGuard()
    {
        if (connection_.busy) {
            connection_.busy = false;
            Close(connection_);
        }
    }
    void Done() { connection_.busy = false; }

private:
    Connection& connection_;
};

void HandleFrame(Connection& connection, const Frame& frame)
{
    // A connection belongs to the window whose socket it came in on.
    if (frame.hwnd != connection.window || frame.kind == FrameKind::Reply) {
        Close(connection);
        return;
    }
    connection.lastFrame = std::chrono::steady_clock::now();
    if (frame.kind == FrameKind::Post) {
        // Its lParam would be read as a pointer into memory that is not ours.
        if (frame.message == WM_COPYDATA || State().posted.size() >= MaxQueuedMessages) {
            Close(connection);
            return;
        }
        if (FindLocal(frame.hwnd))
            Enqueue(
                MSG{frame.hwnd, frame.message, static_cast<WPARAM>(frame.wParam), static_cast<LPARAM>(frame.value)});
        return;
    }
    LRESULT result = 0;
    {
        BusyGuard guard(connection);
        result = DeliverSent(frame);
        guard.Done();
    }
    Frame reply;
    reply.kind = FrameKind::Reply;
    reply.value = static_cast<std::uint64_t>(result);
    if (!WriteAll(connection.fd.Get(), EncodeFrame(reply), ReplyWriteTimeoutMs) || !FindLocal(connection.window))
        Close(connection);
    connection.lastFrame = std::chrono::steady_clock::now();
}

void ServeConnection(const ConnectionPtr& connection)
{
    constexpr int MaxReadsPerRound = 32;
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (int round = 0; round < MaxReadsPerRound; ++round) {
        if (connection->closed || connection->busy)
            return;
        const ssize_t n = ::recv(connection->fd.Get(), buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {  // the peer left, possibly in the middle of a frame: nothing to deliver
            Close(*connection);
            return;
        }
        std::size_t used = 0;
        while (used < static_cast<std::size_t>(n)) {
            used += connection->reader.Feed(buffer.data() + used, static_cast<std::size_t>(n) - used);
            if (connection->reader.State() == FrameReader::Status::Refused) {
                Close(*connection);
                return;
            }
            if (connection->reader.State() == FrameReader::Status::Ready) {
                HandleFrame(*connection, connection->reader.Take());
                if (connection->closed)
                    return;
            }
        }
    }
}

void SweepClosed()
{
    auto& connections = State().connections;
    std::erase_if(connections, [](const ConnectionPtr& c) { return c->closed; });
}

// Descriptors that say a message may be waiting; connections in dispatch are left out (their
// sender waits for the reply and sends nothing more).
struct WaitSet {
    std::vector<pollfd> fds;
    std::vector<HWND> listeners;
    std::vector<ConnectionPtr> connections;
};

WaitSet BuildWaitSet(const std::vector<pollfd>& extra)
{
    SweepClosed();
    auto& state = State();
    WaitSet set;
    set.fds = extra;
    for (const auto& [hwnd, window] : state.windows) {
        if (window.listener.Valid()) {
            set.fds.push_back({window.listener.Get(), POLLIN, 0});
            set.listeners.push_back(hwnd);
        }
    }
    for (const auto& connection : state.connections) {
        if (!connection->busy) {
            set.fds.push_back({connection->fd.Get(), POLLIN, 0});
            set.connections.push_back(connection);
        }
    }
    return set;
}

int MsUntilIdle(const Connection& connection, std::chrono::steady_clock::time_point now)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        connection.lastFrame + std::chrono::milliseconds(IdleConnectionMs) - now);
    return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// A wait must end in time to hang up on the first connection that falls idle.
int BoundedByIdle(const WaitSet& set, int timeoutMs)
{
    const auto now = std::chrono::steady_clock::now();
    for (const auto& connection : set.connections) {
        const int left = MsUntilIdle(*connection, now) + 1;
        timeoutMs = timeoutMs < 0 ? left : std::min(timeoutMs, left);
    }
    return timeoutMs;
}

// After a wait: connections with nothing to read whose time is up. One with bytes waiting is
// served first, so that a long dispatch elsewhere never costs a sender its request.
void HangUpIdle(const WaitSet& set, std::size_t firstConnection)
{
    const auto now = std::chrono::steady_clock::now();
    std::size_t index = firstConnection + set.listeners.size();
    for (const auto& connection : set.connections) {
        const bool readable = set.fds[index++].revents != 0;
        if (!readable && !connection->busy && !connection->closed && MsUntilIdle(*connection, now) == 0)
            Close(*connection);
    }
}

// One round: waits on the caller's descriptors and ours, serves what is ready (sent messages are
// dispatched, posted ones queued). The caller's revents are copied back. True when something
// incoming was served.
bool PumpOnce(std::vector<pollfd>& extra, int timeoutMs)
{
    WaitSet set = BuildWaitSet(extra);
    const int ready = ::poll(set.fds.data(), set.fds.size(), BoundedByIdle(set, timeoutMs));
    HangUpIdle(set, extra.size());
    if (ready <= 0)
        return false;
    for (std::size_t i = 0; i < extra.size(); ++i)
        extra[i].revents = set.fds[i].revents;
    bool served = false;
    std::size_t index = extra.size();
    for (const HWND hwnd : set.listeners) {
        if (set.fds[index++].revents != 0) {
            AcceptAll(hwnd);
            served = true;
        }
    }
    for (const auto& connection : set.connections) {
        if (set.fds[index++].revents != 0) {
            ServeConnection(connection);
            served = true;
        }
    }
    return served;
}

// Waits until a socket of ours is ready, without regard to what is queued.
bool WaitIncoming(int timeoutMs)
{
    WaitSet set = BuildWaitSet({});
    const bool ready = ::poll(set.fds.data(), set.fds.size(), BoundedByIdle(set, timeoutMs)) > 0;
    HangUpIdle(set, 0);
    return ready;
}

void ServePending()
{
    constexpr int MaxRounds = 64;
    std::vector<pollfd> none;
    for (int round = 0; round < MaxRounds && PumpOnce(none, 0); ++round) {
    }
}

// ---- sending ----

LRESULT SendRemote(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Frame frame;
    frame.kind = FrameKind::Send;
    frame.hwnd = hwnd;
    frame.message = msg;
    frame.wParam = wParam;
    if (msg == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || data->cbData > MaxFramePayload || (data->cbData > 0 && !data->lpData)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        frame.hasCopyData = true;
        frame.value = data->dwData;
        const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
        frame.payload.assign(bytes, bytes + data->cbData);
    } else {
        frame.value = static_cast<std::uint64_t>(lParam);
    }
    const UniqueFd fd = ConnectRemote(hwnd);
    if (!fd.Valid())
        return 0;

    const std::vector<std::uint8_t> bytes = EncodeFrame(frame);
    std::size_t written = 0;
    FrameReader reply;
    std::vector<std::uint8_t> buffer(256);
    for (;;) {
        const bool pending = written < bytes.size();
        std::vector<pollfd> own{{fd.Get(), static_cast<short>(POLLIN | (pending ? POLLOUT : 0)), 0}};
        PumpOnce(own, -1);
        const short ready = own[0].revents;
        if (pending && (ready & POLLOUT)) {
            const ssize_t n = ::send(fd.Get(), bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        if (ready & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd.Get(), buffer.data(), buffer.size(), 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                break;
            reply.Feed(buffer.data(), static_cast<std::size_t>(n));
            if (reply.State() == FrameReader::Status::Refused)
                break;
            if (reply.State() == FrameReader::Status::Ready) {
                const Frame answer = reply.Take();
                if (answer.kind != FrameKind::Reply)
                    break;
                SetLastError(ERROR_SUCCESS);
                return static_cast<LRESULT>(answer.value);
            }
        }
    }
    // The window went away (or answered nonsense) before it replied.
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

BOOL PostRemote(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {  // its data would be gone before the receiver looked at it
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const UniqueFd fd = ConnectRemote(hwnd);
    if (!fd.Valid())
        return FALSE;
    Frame frame;
    frame.kind = FrameKind::Post;
    frame.hwnd = hwnd;
    frame.message = msg;
    frame.wParam = wParam;
    frame.value = static_cast<std::uint64_t>(lParam);
    if (!WriteAll(fd.Get(), EncodeFrame(frame), ReplyWriteTimeoutMs)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HWND FindRemote(const char* className)
{
    const std::string folder = OpenRuntimeFolder();
    if (folder.empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    for (const auto& window : ListPublished(folder)) {
        if (!win::SameText(window.entry.className, className))
            continue;
        const bool live = ConnectOrClean(window).Valid();
        // A window too busy to take a connection in time is still there.
        if (live || errno == EAGAIN)
            return window.entry.hwnd;
    }
    return 0;
}

}  // namespace

// ---- the API ----

HWND CreateWindowA(const char* className, const char* windowName, WNDPROC proc)
{
    const HWND hwnd = AllocateHandle();
    if (hwnd == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    LocalWindow window;
    window.className = className ? className : "";
    window.title = windowName ? windowName : "";
    window.proc = std::move(proc);
    if (!window.className.empty()) {
        const DWORD error = Publish(window, hwnd);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return 0;
        }
    }
    State().windows.emplace(hwnd, std::move(window));
    SetLastError(ERROR_SUCCESS);
    return hwnd;
}

BOOL DestroyWindow(HWND hwnd)
{
    auto& state = State();
    const auto it = state.windows.find(hwnd);
    if (it == state.windows.end()) {
        SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!it->second.socketPath.empty())
        ::unlink(it->second.socketPath.c_str());
    state.windows.erase(it);
    // Connections in dispatch are closed after their reply (HandleFrame).
    for (const auto& connection : state.connections)
        if (connection->window == hwnd && !connection->busy)
            Close(*connection);
    std::erase_if(state.posted, [hwnd](const MSG& msg) { return msg.hwnd == hwnd; });
    ClearWakeupIfIdle();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL IsWindow(HWND hwnd)
{
    if (FindLocal(hwnd))
        return TRUE;
    return ConnectRemote(hwnd).Valid() ? TRUE : FALSE;
}

HWND FindWindowA(const char* className, const char* windowName)
{
    SetLastError(ERROR_SUCCESS);
    for (const auto& [hwnd, window] : State().windows) {
        if (className && !win::SameText(window.className, className))
            continue;
        if (windowName && window.title != windowName)
            continue;
        return hwnd;
    }
    // Other processes' titles are not published, so only a search by class reaches them.
    if (!className || !className[0] || windowName)
        return 0;
    return FindRemote(className);
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (FindLocal(hwnd)) {
        SetLastError(ERROR_SUCCESS);
        return CallProc(hwnd, msg, wParam, lParam);
    }
    return SendRemote(hwnd, msg, wParam, lParam);
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == 0 || FindLocal(hwnd)) {
        Enqueue(MSG{hwnd, msg, wParam, lParam});
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    return PostRemote(hwnd, msg, wParam, lParam);
}

void PostQuitMessage(int exitCode)
{
    auto& state = State();
    state.quitPending = true;
    state.quitCode = exitCode;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(state.wakeup.Get(), &one, sizeof one);
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    ServePending();
    auto& state = State();
    for (auto it = state.posted.begin(); it != state.posted.end(); ++it) {
        if (!Matches(*it, hwnd, filterMin, filterMax))
            continue;
        *msg = *it;
        if (removeFlags & PM_REMOVE) {
            state.posted.erase(it);
            ClearWakeupIfIdle();
        }
        return TRUE;
    }
    const MSG quit{0, WM_QUIT, static_cast<WPARAM>(state.quitCode), 0};
    if (state.quitPending && Matches(quit, hwnd, filterMin, filterMax)) {
        *msg = quit;
        if (removeFlags & PM_REMOVE) {
            state.quitPending = false;
            ClearWakeupIfIdle();
        }
        return TRUE;
    }
    return FALSE;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    // Queued messages that the filter leaves out must not wake us, or we would spin: only the
    // sockets can bring a match (nothing else runs on this thread meanwhile).
    while (!PeekMessageA(msg, hwnd, filterMin, filterMax, PM_REMOVE))
        WaitIncoming(-1);
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

LRESULT DispatchMessageA(const MSG* msg)
{
    if (!msg || !FindLocal(msg->hwnd))
        return 0;
    return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

std::vector<int> MessageWaitDescriptors()
{
    std::vector<int> descriptors{State().wakeup.Get()};
    for (const pollfd& entry : BuildWaitSet({}).fds)
        descriptors.push_back(entry.fd);
    return descriptors;
}

BOOL WaitMessageFor(int timeoutMs)
{
    auto& state = State();
    if (!state.posted.empty() || state.quitPending)
        return TRUE;
    return WaitIncoming(timeoutMs) ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND hwnd)
{
    if (FindLocal(hwnd))
        return TRUE;
    return IsWindow(hwnd);
}

BOOL ShowWindow(HWND hwnd, int showCommand)
{
    (void)showCommand;
    if (FindLocal(hwnd))
        return TRUE;
    return IsWindow(hwnd);
}

BOOL PostMessageToClass(const char* className, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const HWND hwnd = FindWindowA(className, nullptr);
    return hwnd != 0 && PostMessageA(hwnd, msg, wParam, lParam);
}
