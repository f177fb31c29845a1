// Port ranges for the OSC tests: a range one process holds is not handed to
// another reservation, and a range with a port something else has bound is
// passed over.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

namespace {

int BoundUdpSocket(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST(PortBlocks, AReservedOrBusyRangeIsNeverHandedOutAgain)
{
    using corvane::test::ReservePortBlock;
    using corvane::test::UniquePortBase;
    const int own = UniquePortBase();
    EXPECT_EQ(UniquePortBase(), own);
    const int ownBlock = (own - 10000) / 40;
    // The process's own range, asked for again, gives another one.
    const int second = ReservePortBlock(ownBlock);
    ASSERT_GT(second, 0);
    EXPECT_NE(second, own);
    // A range with one port bound by somebody else (not a test process
    // holding its lock) is passed over, whichever of its ports is taken.
    int start = ownBlock + 250;
    for (int taken : {0, 17, 39}) {
        const int busyBase = 10000 + (start++ % 500) * 40;
        const int fd = BoundUdpSocket(busyBase + taken);
        if (fd < 0)
            continue; // in use already
        const int next = ReservePortBlock((busyBase - 10000) / 40);
        close(fd);
        ASSERT_GT(next, 0);
        EXPECT_NE(next, busyBase) << "port " << busyBase + taken << " was bound";
        EXPECT_NE(next, own);
        EXPECT_NE(next, second);
    }
}

} // namespace
