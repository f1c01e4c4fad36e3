// Field definitions: defaults, flags, image-held properties under each dialect, search,
// comparison and copy.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/HXDBFFieldDefs.h"

using namespace zarbel;

TEST(FieldDefs, NewDefinitionDefaults) {
    THXDBFFieldDefs defs(nullptr, xBaseIV);
    THXDBFFieldDef& d = defs.Add();
    EXPECT_EQ(d.NativeNextAutoInc(), 1u);
    EXPECT_EQ(d.NativeStepAutoInc(), 1);
    EXPECT_EQ(d.NextAutoInc(), 0u);
    EXPECT_EQ(d.FieldFlag().FieldFlag(), 0);
    EXPECT_EQ(d.Tag(), 0);
    EXPECT_TRUE(d.DBFFieldDefs().Empty());
    EXPECT_EQ(d.DBFFieldDefs().Dialect(), xBaseIV);
    EXPECT_EQ(d.Dialect(), xBaseIV);
    EXPECT_EQ(d.FieldDef(), nullptr);
    EXPECT_EQ(d.NullOrdinal(), -1);
    EXPECT_EQ(d.Index(), 0);
    EXPECT_EQ(defs.Add().Index(), 1);
    EXPECT_EQ(d.DBFFieldDefs().Parent(), &d);
}

TEST(FieldDefs, FlagBytesKeepOnlyTheirBits) {
    TFieldFlag f;
    f.SetFieldFlag(0xFF);
    EXPECT_EQ(f.FieldFlag(), 0x0F);
    EXPECT_TRUE(f.System() && f.CanStoreNull() && f.BinaryColumn() && f.AutoIncrement());
    f.SetFieldFlag(0x12);
    EXPECT_EQ(f.FieldFlag(), 0x02);
    EXPECT_FALSE(f.System());
    EXPECT_TRUE(f.CanStoreNull());
    f.SetAutoIncrement(true);
    EXPECT_EQ(f.FieldFlag(), 0x0A);

    TTableFlag t;
    EXPECT_EQ(t.TableFlag(), 0);
    t.SetTableFlag(0xFF);
    EXPECT_EQ(t.TableFlag(), 0x07);
    EXPECT_TRUE(t.HasGotIndex() && t.HasGotMemo() && t.ItIsDatabase());
    t.SetTableFlag(0x02);
    EXPECT_FALSE(t.HasGotIndex());
    EXPECT_TRUE(t.HasGotMemo());
}

TEST(FieldDefs, ImageHeldPropertiesFollowTheDialect) {
    THXDBFFieldDefs defs(nullptr, xBaseVII);
    THXDBFFieldDef& d = defs.Add();
    d.SetName("ABCDEFGHIJK");
    d.SetNativeStepAutoInc(5);
    EXPECT_EQ(d.Name(), "ABCDEFGHIJK");
    EXPECT_EQ(d.NativeStepAutoInc(), 1);
    defs.SetDialect(xBaseIV);
    EXPECT_EQ(d.Name(), "ABCDEFGHIJ");
    EXPECT_EQ(d.NativeStepAutoInc(), 5);
    EXPECT_EQ(d.FieldRec().DescriptorSize(), 32);
    d.Setfield_type('E');
    d.Setextend_type(dbftDBFDataSet);
    d.SetNextAutoInc(77);
    d.SetNativeNextAutoInc(88);
    EXPECT_EQ(d.FieldRec().ShortImage()[11], 'E');
    EXPECT_EQ(d.FieldRec().LongImage()[32], 'E');
    EXPECT_EQ(d.FieldRec().LongImage()[35], 60);
    EXPECT_EQ(GetLE32(d.FieldRec().LongImage() + 38), 77u);
    EXPECT_EQ(GetLE32(d.FieldRec().ShortImage() + 19), 88u);
}

TEST(FieldDefs, SetDialectReachesAnyDepth) {
    THXDBFFieldDefs defs(nullptr, xBaseIII);
    THXDBFFieldDef* d = &defs.Add();
    THXDBFFieldDef* deepest = d;
    for (int i = 0; i < 4; ++i) deepest = &deepest->DBFFieldDefs().Add();
    EXPECT_EQ(deepest->Dialect(), xBaseIII);
    defs.SetDialect(xBaseV);
    EXPECT_EQ(deepest->Dialect(), xBaseV);
    EXPECT_EQ(deepest->FieldRec().DescriptorSize(), 48);
    EXPECT_EQ(deepest->Collection()->Dialect(), xBaseV);
}

TEST(FieldDefs, FindByNameIsCaseInsensitiveDepthFirstPreOrder) {
    THXDBFFieldDefs defs(nullptr, xBaseIV);
    defs.Add().SetName("ID");
    THXDBFFieldDef& nest = defs.Add();
    nest.SetName("ROWS");
    THXDBFFieldDef& inner = nest.DBFFieldDefs().Add();
    inner.SetName("CODE");
    THXDBFFieldDef& outerCode = defs.Add();
    outerCode.SetName("Code");
    defs.Add().SetName("\xC8\xCC\xDF");  // Cyrillic upper case (CP1251)

    EXPECT_EQ(defs.FindByName("code"), &inner);  // nested list searched before later items
    EXPECT_EQ(defs.FindByName("rows"), &nest);
    EXPECT_EQ(defs.FindByName("\xE8\xEC\xFF"), &defs.Items(3));
    EXPECT_EQ(defs.FindByName("NOPE"), nullptr);
    EXPECT_EQ(nest.DBFFieldDefs().FindByName("id"), nullptr);
}

TEST(FieldDefs, IsEqualComparesNamesExactlyAndNestedLists) {
    THXDBFFieldDefs a(nullptr, xBaseIV), b(nullptr, xBaseIV);
    a.Add().SetName("NAME");
    b.Add().SetName("NAME");
    EXPECT_TRUE(a.IsEqual(b));
    a.Items(0).Setfield_type('C');  // only names and nesting count
    EXPECT_TRUE(a.IsEqual(b));
    b.Items(0).SetName("name");
    EXPECT_FALSE(a.IsEqual(b));
    b.Items(0).SetName("NAME");
    a.Items(0).DBFFieldDefs().Add().SetName("X");
    EXPECT_FALSE(a.IsEqual(b));
    b.Items(0).DBFFieldDefs().Add().SetName("X");
    EXPECT_TRUE(a.IsEqual(b));
    b.Add().SetName("MORE");
    EXPECT_FALSE(a.IsEqual(b));
}

TEST(FieldDefs, CopyLeavesFlagsAndTagBehind) {
    THXDBFFieldDefs src(nullptr, xBaseIV);
    THXDBFFieldDef& s = src.Add();
    s.SetName("PRICE");
    s.Setfield_type('N');
    s.Setlen(10);
    s.Setdec(2);
    s.SetOffset(21);
    s.SetOffsetHD(64);
    s.SetNextAutoInc(5);
    s.SetNativeNextAutoInc(6);
    s.SetNativeStepAutoInc(7);
    s.FieldFlag().SetCanStoreNull(true);
    s.SetTag(42);
    s.DBFFieldDefs().Add().SetName("SUB");

    THXDBFFieldDefs dst(nullptr, xBaseIV);
    dst.Add().SetName("OLD");
    dst.Assign(src);
    ASSERT_EQ(dst.Count(), 1);
    const THXDBFFieldDef& c = dst.Items(0);
    EXPECT_EQ(c.Name(), "PRICE");
    EXPECT_EQ(c.field_type(), 'N');
    EXPECT_EQ(c.len(), 10);
    EXPECT_EQ(c.dec(), 2);
    EXPECT_EQ(c.Offset(), 21);
    EXPECT_EQ(c.OffsetHD(), 64);
    EXPECT_EQ(c.NextAutoInc(), 5u);
    EXPECT_EQ(c.NativeNextAutoInc(), 6u);
    EXPECT_EQ(c.NativeStepAutoInc(), 7);
    EXPECT_FALSE(c.FieldFlag().CanStoreNull());
    EXPECT_EQ(c.Tag(), 0);
    ASSERT_EQ(c.DBFFieldDefs().Count(), 1);
    EXPECT_EQ(c.DBFFieldDefs().Items(0).Name(), "SUB");
    EXPECT_TRUE(dst.IsEqual(src));
    dst.Assign(dst);  // self copy keeps the list
    EXPECT_EQ(dst.Count(), 1);
}

TEST(FieldDefs, NullBitsAndListMarkers) {
    THXDBFFieldDefs defs(nullptr, xVisualFoxPro);
    THXDBFFieldDef& d = defs.Add();
    d.SetNullOrdinal(10);
    EXPECT_EQ(d.NullByte(), 1);
    EXPECT_EQ(d.NullMask(), 0x04);
    defs.SetAutoIncPresent(true);
    defs.SetNullFlags(13, 2);
    EXPECT_EQ(defs.NullFlagsOffset(), 13);
    defs.ResetMarkers();
    EXPECT_FALSE(defs.AutoIncPresent());
    EXPECT_EQ(defs.NullFlagsSize(), 0);
    defs.Delete(5);  // out of range: nothing
    defs.Delete(0);
    EXPECT_EQ(defs.Count(), 0);
}
