// SPDX-License-Identifier: MIT
// The calls the serving loop makes once it is confined, found by reading its
// code and checked by running it under strace: a request read, its name
// opened beneath the folder, a file read or an upload stored, datagrams sent
// from a socket of the transfer's own, a line written, the next deadline
// awaited. Everything the process does before it confines itself (binding,
// the helper for port 69, opening the folder) needs nothing here.
#include "confine_calls.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <termios.h>

#include <csignal>

namespace {

constexpr std::uint64_t kAll = ~0ULL;
constexpr std::uint64_t kDatagram = SOCK_DGRAM | SOCK_CLOEXEC;

// Any arguments.
constexpr ConfineCall Any(const char* name, const char* reason)
{
    return ConfineCall{name, {}, 0, false, reason};
}

// Any arguments, and only for a server that takes uploads.
constexpr ConfineCall Writing(const char* name, const char* reason)
{
    return ConfineCall{name, {}, 0, true, reason};
}

// Any arguments, and only for a server that serves HTTP.
constexpr ConfineCall Tcp(const char* name, const char* reason)
{
    return ConfineCall{name, {}, 0, false, reason, true};
}

// Argument nIndex equal to value.
constexpr ConfineCall When(const char* name, unsigned nIndex, std::uint64_t value, const char* reason)
{
    return ConfineCall{name, {{nIndex, kAll, value}}, 1, false, reason};
}

// Memory that is never made executable.
constexpr ConfineCall NotExecutable(const char* name, const char* reason)
{
    return ConfineCall{name, {{2, PROT_EXEC, 0}}, 1, false, reason};
}

// A socket of one family, type and protocol.
constexpr ConfineCall Socket(std::uint64_t nFamily, std::uint64_t nType, std::uint64_t nProtocol, const char* reason)
{
    return ConfineCall{"socket", {{0, kAll, nFamily}, {1, kAll, nType}, {2, kAll, nProtocol}}, 3, false, reason};
}

constexpr ConfineCall kCalls[] = {
    // The loop.
    Any("epoll_wait", "the loop waits for datagrams, signals and its next deadline"),
    Any("epoll_pwait", "epoll_wait as the C library may make it"),
    Any("epoll_ctl", "each transfer's socket joins and leaves the loop"),
    Any("read", "the signal descriptor, and files served"),
    Any("write", "a line of output, and uploads"),
    Any("writev", "the C library's output"),
    Any("clock_gettime", "every datagram and deadline is timed"),
    Any("gettimeofday", "the time of a line"),
    Any("restart_syscall", "a call interrupted and resumed by the kernel"),
    Any("rt_sigreturn", "return from a signal handler"),
    Any("rt_sigprocmask", "the C library blocks signals around an abort"),
    Any("getpid", "the C library's abort names its own process"),
    Any("gettid", "the C library's abort names its own thread"),
    When("tgkill", 2, SIGABRT, "abort() ends the process on a fault; no other signal"),
    Any("exit_group", "the end"),
    Any("exit", "the end"),
    Any("futex", "the C library's locks"),
    // Memory: allocation; nothing is ever made executable.
    Any("brk", "allocation"),
    NotExecutable("mmap", "allocation of large blocks"),
    NotExecutable("mprotect", "the allocator's guard pages"),
    Any("munmap", "allocation"),
    Any("mremap", "allocation"),
    Any("madvise", "the allocator returns memory"),
    Any("getrandom", "the allocator's and the upload's random names"),
    // Sockets: the listening ones it has, and one UDP socket per transfer,
    // whose port is the transfer's identity (RFC 1350). No other kind of
    // socket (no TCP, no Unix socket, no raw or packet socket) and no connect.
    Socket(AF_INET, kDatagram, 0, "a transfer's own UDP socket (IPv4); also the interface reads' socket"),
    Socket(AF_INET6, kDatagram, 0, "a transfer's own UDP socket (IPv6)"),
    Socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE,
           "the interfaces and their subnets, read again every 2 s (getifaddrs); without the capability "
           "NET_ADMIN, which is dropped, it can only read"),
    Any("bind", "a transfer's socket at the address the request came to; the netlink socket"),
    Any("setsockopt", "a transfer socket's options: packet information, receive timeout, IPV6_V6ONLY"),
    Any("getsockopt", "socket errors; the bytes an HTTP client has acknowledged (TCP_INFO)"),
    Any("getsockname", "a transfer's port, the netlink socket's address"),
    Any("recvfrom", "datagrams; HTTP requests"),
    Any("recvmsg", "datagrams with their destination and interface"),
    Any("sendto", "datagrams, broadcast ones too (the proxy DHCP's); the netlink request; HTTP's answers"),
    Any("sendmsg", "datagrams from the address the request came to"),
    Any("close", "sockets and files of ended transfers"),
    // HTTP (--netboot): its listening socket is open before confinement;
    // connections are accepted from it, and files go out with sendfile.
    // No TCP socket is made and none connects (Landlock refuses TCP connect,
    // and TCP bind on any port but the one served).
    Tcp("accept4", "HTTP: a connection accepted from the listening socket"),
    Tcp("accept", "HTTP: accept4 as the C library may make it"),
    Tcp("sendfile", "HTTP: a file sent on a connection"),
    Tcp("shutdown", "HTTP: a connection's end"),
    When("ioctl", 1, SIOCGIFMTU, "an interface's MTU caps the block size"),
    When("ioctl", 1, SIOCGIFINDEX, "an interface's index by its name"),
    When("ioctl", 1, SIOCGIFNAME, "an interface's name by its index"),
    When("ioctl", 1, TCGETS, "the C library asks whether output is a terminal"),
    // Files, beneath the folder only: Landlock decides which paths.
    Any("openat", "a name beneath the folder, one component at a time"),
    Any("openat2", "a name beneath the folder (RESOLVE_BENEATH)"),
    Any("fstat", "a file's type and size, checked after it is opened"),
    Any("newfstatat", "a file's type and size"),
    Any("statx", "a file's type and size, as the C library may ask"),
    Any("lseek", "files served"),
    Any("pread64", "files served"),
    Any("getdents64", "names matched without regard to case"),
    When("fcntl", 1, F_GETFL, "a file's flags"),
    When("fcntl", 1, F_SETFL, "a file opened by name is read without O_NONBLOCK"),
    When("fcntl", 1, F_GETFD, "a descriptor's flags"),
    When("fcntl", 1, F_DUPFD_CLOEXEC, "the folder's descriptor for a walk of its own"),
    When("fadvise64", 2, POSIX_FADV_SEQUENTIAL, "files are read from start to end"),
    // Uploads only.
    Writing("pwrite64", "an upload's blocks"),
    Writing("ftruncate", "an upload's file"),
    Writing("fallocate", "an upload's room"),
    Writing("fsync", "an upload stored before it is named"),
    Writing("fdatasync", "an upload stored before it is named"),
    Writing("sync_file_range", "an upload written back as it comes"),
    Writing("fstatfs", "the room left for an upload"),
    Writing("linkat", "a new upload named without replacing what appeared meanwhile"),
    Writing("renameat2", "an upload named (RENAME_NOREPLACE when it may not replace)"),
    Writing("renameat", "an upload named"),
    Writing("unlinkat", "an unfinished upload removed"),
    Writing("fchmod", "an upload takes the mode of the file it replaces"),
    Writing("fchown", "an upload takes the owner of the file it replaces"),
    Writing("faccessat", "whether the file an upload replaces may be written"),
    Writing("faccessat2", "faccessat as the C library may make it"),
    Writing("umask", "a new upload's mode"),
#if defined(__SANITIZE_ADDRESS__)
    // The test builds with AddressSanitizer and UndefinedBehaviorSanitizer
    // only, never a shipped one: their runtime checks whether memory may be
    // read by writing it into a pipe, and names the program in a report.
    Any("pipe2", "sanitizer builds: the runtime's memory probe"),
    Any("readlink", "sanitizer builds: the program's name in a report"),
    Any("readlinkat", "sanitizer builds: the program's name in a report"),
#endif
};

} // namespace

std::span<const ConfineCall> AfxConfineCalls()
{
    return kCalls;
}
