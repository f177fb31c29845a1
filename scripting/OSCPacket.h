// One reply or update of the OSC server: a bundle with the immediate time tag
// holding one message, built in a fixed buffer on the stack. Arguments that
// do not fit raise osc::OutOfBufferMemoryException ("out of buffer memory").
#pragma once

#include <cstddef>

#include <osc/OscOutboundPacketStream.h>

#include "scripting/OSCSocket.h"

namespace QZ {

class OSCReplyPacket {
public:
    static constexpr size_t kBufferSize = 1024;

    explicit OSCReplyPacket(const char* path) : stream(buffer, sizeof buffer)
    {
        stream << osc::BeginBundleImmediate << osc::BeginMessage(path);
    }
    OSCReplyPacket(const OSCReplyPacket&) = delete;
    OSCReplyPacket& operator=(const OSCReplyPacket&) = delete;

    // Add the message's arguments here.
    osc::OutboundPacketStream& Stream() { return stream; }

    // Closes the message and the bundle (once) and sends the packet.
    void SendOn(OSCSendSocket& socket)
    {
        Finish();
        socket.Send(stream.Data(), stream.Size());
    }
    void SendOn(OSCSendSocket& socket, const IpEndpointName& remote)
    {
        Finish();
        socket.SendTo(remote, stream.Data(), stream.Size());
    }
    // From a new socket connected to `remote`, closed afterwards. Throws
    // std::runtime_error("unable to connect udp socket\n").
    void SendTo(const IpEndpointName& remote)
    {
        Finish();
        OSCSendSocket socket;
        socket.Connect(remote);
        socket.Send(stream.Data(), stream.Size());
    }

private:
    void Finish()
    {
        if (!finished) {
            stream << osc::EndMessage << osc::EndBundle;
            finished = true;
        }
    }

    char buffer[kBufferSize];
    osc::OutboundPacketStream stream;
    bool finished = false;
};

} // namespace QZ
