#include "scripting/OSCSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <osc/OscException.h>

#include "scripting/OSCHelper.h"

namespace QZ {

namespace {

// How long a host name lookup may take before the request is refused.
constexpr std::chrono::milliseconds kLookupLimit{1000};

sockaddr_in SocketAddress(uint32_t address, int port)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    socketAddress.sin_port = htons(static_cast<uint16_t>(port));
    return socketAddress;
}

sockaddr_in SocketAddress(const IpEndpointName& endpoint)
{
    const uint32_t address =
        endpoint.address == IpEndpointName::ANY_ADDRESS ? INADDR_ANY : static_cast<uint32_t>(endpoint.address);
    return SocketAddress(address, endpoint.port == IpEndpointName::ANY_PORT ? 0 : endpoint.port);
}

// Resolves a host name or dotted address to IPv4 (host order).
bool ResolveHost(const std::string& host, uint32_t* address)
{
    if (host.empty())
        return false;
    in_addr numeric{};
    if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
        *address = ntohl(numeric.s_addr);
        return true;
    }
    // The name scripts use most, answered without a lookup: sendOSC may run
    // in a MIDI callback on the audio thread.
    if (strcasecmp(host.c_str(), "localhost") == 0) {
        *address = INADDR_LOOPBACK;
        return true;
    }
#if defined(__SANITIZE_THREAD__)
    // glibc's background resolver starts threads ThreadSanitizer cannot see,
    // which crash it; sanitizer builds look names up in place.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        found = nullptr;
#else
    // A name lookup runs in the background and is given up after a bound, so
    // a request naming a host behind a dead name server cannot hold the
    // listen thread (and the plug-in's close, which waits for that thread).
    // A lookup that cannot be cancelled keeps its record: the resolver still
    // writes into it.
    struct Lookup {
        std::string name;
        addrinfo hints{};
        gaicb request{};
    };
    auto* lookup = new Lookup;
    lookup->name = host;
    lookup->hints.ai_family = AF_INET;
    lookup->hints.ai_socktype = SOCK_DGRAM;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* requests[] = {&lookup->request};
    if (getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr) != 0) {
        delete lookup;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLookupLimit;
    while (gai_error(&lookup->request) == EAI_INPROGRESS) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        const auto leftNs = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(leftNs / 1000000000), static_cast<long>(leftNs % 1000000000)};
        gai_suspend(requests, 1, &wait);
    }
    if (gai_error(&lookup->request) == EAI_INPROGRESS && gai_cancel(&lookup->request) == EAI_NOTCANCELED)
        return false; // still running: the record stays with the resolver
    addrinfo* found = gai_error(&lookup->request) == 0 ? lookup->request.ar_result : nullptr;
    delete lookup;
#endif
    if (!found)
        return false;
    bool ok = false;
    for (addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr) {
            *address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}

} // namespace

void OSCPrintf(const char* format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    const int length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length <= 0)
        return;
    size_t size = static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1;
    const char* p = text;
    while (size > 0) {
        const ssize_t written = write(STDOUT_FILENO, p, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        p += written;
        size -= static_cast<size_t>(written);
    }
}

IpEndpointName ResolveReplyURL(const char* url)
{
    int32_t port = -1;
    const std::string host = OSCHelper::ParseURL(url, &port);
    if (port < 1 || port > 65535)
        throw osc::Exception("port out of range in URL");
    uint32_t address = 0;
    // INADDR_ANY (and the "any" marker) as a destination means this machine
    // on Linux; a client must name a real address.
    if (!ResolveHost(host, &address) || address == 0 || address == IpEndpointName::ANY_ADDRESS)
        throw osc::Exception("unresolvable host in URL");
    return IpEndpointName(static_cast<unsigned long>(address), port);
}

IpEndpointName ResolveReplyURLFor(const char* url, const IpEndpointName& requester)
{
    const IpEndpointName target = ResolveReplyURL(url);
    // IPv4 in the low 32 bits (oscpack's four-part constructor sign-extends).
    const auto ipv4 = [](unsigned long address) { return static_cast<uint32_t>(address); };
    const auto isLoopback = [&](unsigned long address) { return (ipv4(address) >> 24) == 127; };
    const bool sameMachine = ipv4(target.address) == ipv4(requester.address) ||
                             (isLoopback(target.address) && isLoopback(requester.address));
    if (!sameMachine)
        throw osc::Exception("reply address is not the requester's");
    return target;
}

OSCSendSocket::OSCSendSocket()
{
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("unable to create udp socket\n");
}

OSCSendSocket::~OSCSendSocket()
{
    if (fd >= 0)
        close(fd);
}

void OSCSendSocket::Connect(const IpEndpointName& remote)
{
    const sockaddr_in address = SocketAddress(remote);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
        throw std::runtime_error("unable to connect udp socket\n");
}

void OSCSendSocket::Send(const char* data, size_t size)
{
    while (send(fd, data, size, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

void OSCSendSocket::SendTo(const IpEndpointName& remote, const char* data, size_t size)
{
    const sockaddr_in address = SocketAddress(remote);
    while (sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 &&
           errno == EINTR) {
    }
}

int OpenListenSocket(int port)
{
    if (port < 1 || port > 65535)
        return -1;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in address = SocketAddress(INADDR_ANY, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool LocalAddressFor(uint32_t remoteAddress, uint32_t* localAddress)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Connecting a UDP socket sends nothing; it only picks the route.
    const sockaddr_in remote = SocketAddress(remoteAddress, 9);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 &&
                    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET;
    close(fd);
    if (ok)
        *localAddress = ntohl(local.sin_addr.s_addr);
    return ok;
}

} // namespace QZ
