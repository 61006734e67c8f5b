#include "foundation/Exceptions.h"

#include <gtest/gtest.h>

TEST(ExceptionsTest, DirectXExCarriesTheSymbolicNameAsInternalText) {
    try {
        THROW_DIRECTX(VFW_E_NOT_CONNECTED, "Unable to get the media type of the TavrixGrabber.");
    } catch (const CBaseException& e) {
        const CErrorEntry& first = e.First();
        EXPECT_EQ(first.className, "CDirectXEx");
        EXPECT_EQ(first.file, ".\\ExceptionsTest");
        EXPECT_EQ(first.internal, "VFW_E_NOT_CONNECTED");
        EXPECT_EQ(e.GetMessage(), "Unable to get the media type of the TavrixGrabber.");
        EXPECT_EQ(dynamic_cast<const CDirectXEx&>(e).GetHResult(), VFW_E_NOT_CONNECTED);
    }
}

TEST(ExceptionsTest, TextOfOneRecordEndsAfterTheLineWhenInternalAndInfoAreEmpty) {
    const CGeneralEx e(".\\RecordContext", "CGeneralEx", 120, "The record path is invalid.");
    EXPECT_EQ(e.GetText(false),
              "The record path is invalid.\n\nClass \tCGeneralEx\nFile  \t.\\RecordContext\nLine  \t120\n");
    EXPECT_EQ(e.GetText(true), e.GetText(false) + "\n\n\n");
}

TEST(ExceptionsTest, InternalAndInfoLinesAppearOnlyWhenSet) {
    const CDirectXEx e(E_FAIL, ".\\CameraView", "CDirectXEx", 7, "Unable to run preview graph.", "x");
    EXPECT_EQ(e.GetText(false), "Unable to run preview graph.\n\nClass \tCDirectXEx\nFile  \t.\\CameraView\n"
                                "Line  \t7\nInternal \tE_FAIL\nInfo \tx\n");
    const CUserDbEx db(".\\UserDbMgr", "CUserDbEx", 3, "CUserDbMgrImpl::Open", "unable to open database");
    EXPECT_EQ(db.First().internal, "");
    EXPECT_EQ(db.First().info, "unable to open database");
}

TEST(ExceptionsTest, AnEarlierExceptionsRecordsFollowTheNewOne) {
    const CGeneralEx root(".\\A", "CGeneralEx", 1, "root");
    const CDirectXEx middle(E_OUTOFMEMORY, ".\\B", "CDirectXEx", 2, "middle", "", &root);
    const CSkypeEx top(".\\C", "CSkypeEx", 3, "top", "", &middle);
    ASSERT_EQ(top.GetEntries().size(), 3u);
    EXPECT_EQ(top.GetEntries()[0].message, "top");
    EXPECT_EQ(top.GetEntries()[1].message, "middle");
    EXPECT_EQ(top.GetEntries()[1].internal, "E_OUTOFMEMORY") << "taken-over records keep their texts";
    EXPECT_EQ(top.GetEntries()[2].message, "root");
    EXPECT_EQ(top.GetText(true), top.GetEntries()[0].GetText() + "\n\n\n" + top.GetEntries()[1].GetText() +
                                     "\n\n\n" + top.GetEntries()[2].GetText() + "\n\n\n");
}

TEST(ExceptionsTest, CopiesKeepEveryRecord) {
    const CGeneralEx root(".\\A", "CGeneralEx", 1, "root");
    const CSMTPEx e(".\\Smtp", "CSMTPEx", 9, "An unexpected MAIL response was received", "", &root);
    const CSMTPEx copy = e;
    EXPECT_EQ(copy.GetText(true), e.GetText(true));
}

TEST(ExceptionsTest, UnknownResultCodesGetAReadableName) {
    EXPECT_EQ(GetHResultName(S_OK), "S_OK");
    EXPECT_EQ(GetHResultName(NS_E_INVALID_REQUEST), "NS_E_INVALID_REQUEST");
    EXPECT_EQ(GetHResultName(HRESULT_DISK_FULL), "ERROR_DISK_FULL");
    EXPECT_EQ(GetHResultName(MakeHResult(0x8BADF00D)), "Unknown HRESULT 0x8BADF00D");
}

TEST(ExceptionsTest, SourceNameIsTheFileStemBehindDotBackslash) {
    EXPECT_EQ(ExceptionSourceName("/work/camera/CameraView.cpp"), ".\\CameraView");
    EXPECT_EQ(ExceptionSourceName("RecordContext.cpp"), ".\\RecordContext");
    EXPECT_EQ(ExceptionSourceName("noext"), ".\\noext");
}
