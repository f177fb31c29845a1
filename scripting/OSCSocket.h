// The UDP side of the OSC server: the listening socket, reply sockets, and
// the resolution of the reply URLs that clients name. IPv4 only.
//
// Every function may be called on any thread but the audio thread (they make
// system calls and may resolve host names).
#pragma once

#include <cstddef>
#include <cstdint>

#include <ip/IpEndpointName.h>

namespace QZ {

// printf to the standard output, one write per call so that lines of
// several threads stay whole; the server's error lines go here.
void OSCPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The endpoint a reply URL ("osc.udp://host:port/...", or "host:port")
// names. Throws osc::Exception when the host cannot be resolved to a usable
// IPv4 address ("unresolvable host in URL") or the port is not within
// 1..65535 ("port out of range in URL"): an unresolved host must never turn
// into address 0, which reaches this machine.
IpEndpointName ResolveReplyURL(const char* url);

// ResolveReplyURL for a request that came from `requester`: the server sends
// only to the machine a request came from, so that one datagram cannot turn
// the server's replies or update streams on a third party. A requester on
// this machine (a loopback address) may name any loopback address; any
// other must name its own address. Throws osc::Exception("reply address is
// not the requester's") otherwise.
IpEndpointName ResolveReplyURLFor(const char* url, const IpEndpointName& requester);

// A UDP socket for sending, closed on destruction.
class OSCSendSocket {
public:
    // Throws std::runtime_error("unable to create udp socket\n").
    OSCSendSocket();
    ~OSCSendSocket();
    OSCSendSocket(const OSCSendSocket&) = delete;
    OSCSendSocket& operator=(const OSCSendSocket&) = delete;

    // Throws std::runtime_error("unable to connect udp socket\n").
    void Connect(const IpEndpointName& remote);
    // Send errors (an unreachable client) are ignored, as UDP senders do.
    void Send(const char* data, size_t size);
    void SendTo(const IpEndpointName& remote, const char* data, size_t size);

private:
    int fd = -1;
};

// A socket bound to every local address at `port`, non-blocking; -1 when the
// port cannot be bound.
int OpenListenSocket(int port);

// The local IPv4 address (host order) through which this machine reaches
// `remoteAddress`; false when it cannot be told.
bool LocalAddressFor(uint32_t remoteAddress, uint32_t* localAddress);

} // namespace QZ
