// Positioned transfers of the file access layer: they leave the stream position alone.
#include <gtest/gtest.h>

#include <string>

#include "engine/HXDBFPrx.h"
#include "test_util.h"

using namespace zarbel;

TEST(ProxyStream, PositionedReadAndWriteKeepThePosition) {
    zarbel::test::TempDir dir;
    for (TProxyStreamType type : {pstFile, pstInnerStream}) {
        SCOPED_TRACE(static_cast<int>(type));
        TProxyStream p;
        p.SetProxyStreamType(type);
        p.SetFileName(dir.File("p.bin"));
        p.CreateProxyStream();
        ASSERT_TRUE(p.IsOpen());
        ASSERT_EQ(p.Write("0123456789", 10), 10);
        ASSERT_EQ(p.Seek(3, soBeginning), 3);
        EXPECT_EQ(p.PWrite(8, "ABCD", 4), 4);  // also extends the file
        EXPECT_EQ(p.Seek(0, soCurrent), 3);
        char buf[16] = {};
        EXPECT_EQ(p.PRead(6, buf, 16), 6);  // short at the end
        EXPECT_EQ(std::string(buf, 6), "67ABCD");
        EXPECT_EQ(p.Seek(0, soCurrent), 3);
        EXPECT_EQ(p.GetFileSize(), 12);
        EXPECT_EQ(p.PRead(-1, buf, 1), -1);
    }
}
