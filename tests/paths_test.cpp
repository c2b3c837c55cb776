// Device paths: where \A\B lands under the device's file-system root.
#include "device/paths.h"

#include <gtest/gtest.h>

#include <fstream>

#include "device/device_folder.h"
#include "base/text.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

class PathsTest : public DeviceTest {
  protected:
    void SetUp() override {
        root = device::FileSystemRoot();
        fs::create_directories(root);
    }
    void Touch(const fs::path& relative) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << "x";
    }
    fs::path root;
};

TEST_F(PathsTest, RootAndRelativePathsStartAtTheRoot) {
    EXPECT_EQ(device::HostPath(u"\\"), root);
    EXPECT_EQ(device::HostPath(u""), root);
    EXPECT_EQ(device::HostPath(u"Windows\\Alarm1.mid"), root / "Windows" / "Alarm1.mid");
    EXPECT_EQ(device::HostPath(u"\\Windows\\Alarm1.mid"), root / "Windows" / "Alarm1.mid");
}

TEST_F(PathsTest, SlashAndRepeatedSeparatorsAndDotsAreSkipped) {
    EXPECT_EQ(device::HostPath(u"/Windows/Alarm1.mid"), root / "Windows" / "Alarm1.mid");
    EXPECT_EQ(device::HostPath(u"\\\\Windows\\/\\Alarm1.mid\\"), root / "Windows" / "Alarm1.mid");
    EXPECT_EQ(device::HostPath(u"\\.\\Windows\\.\\Alarm1.mid"), root / "Windows" / "Alarm1.mid");
}

TEST_F(PathsTest, ExistingComponentsMatchWithoutRegardToCase) {
    Touch("Storage/Tones/Ring.wav");
    Touch("Mélodies/Été.mid");
    EXPECT_EQ(device::HostPath(u"\\STORAGE\\tones\\rInG.WAV"), root / "Storage/Tones/Ring.wav");
    EXPECT_EQ(device::HostPath(u"\\MÉLODIES\\été.MID"), root / "Mélodies" / "Été.mid");
}

TEST_F(PathsTest, MissingComponentsKeepTheCaseGiven) {
    Touch("Storage/Tones/Ring.wav");
    EXPECT_EQ(device::HostPath(u"\\storage\\NewFolder\\Sub\\A.wav"),
              root / "Storage" / "NewFolder" / "Sub" / "A.wav");
    EXPECT_EQ(device::HostPath(u"\\STORAGE\\tones\\New.WAV"), root / "Storage/Tones/New.WAV");
}

TEST_F(PathsTest, ExactCaseWinsOverOtherCaseTwins) {
    Touch("Tones/ring.wav");
    Touch("Tones/RING.wav");
    Touch("Tones/Ring.wav");
    EXPECT_EQ(device::HostPath(u"\\tones\\ring.wav"), root / "Tones/ring.wav");
    EXPECT_EQ(device::HostPath(u"\\tones\\Ring.wav"), root / "Tones/Ring.wav");
    EXPECT_EQ(device::HostPath(u"\\tones\\RING.wav"), root / "Tones/RING.wav");
    // No exact twin: the byte-wise smallest of them, every time.
    EXPECT_EQ(device::HostPath(u"\\tones\\rInG.WAV"), root / "Tones/RING.wav");
    EXPECT_EQ(device::HostPath(u"\\tones\\rInG.WAV"), root / "Tones/RING.wav");
}

TEST_F(PathsTest, DotDotGoesUpButNeverAboveTheRoot) {
    Touch("Windows/Alarm1.mid");
    EXPECT_EQ(device::HostPath(u"\\Windows\\..\\IPSM"), root / "IPSM");
    EXPECT_EQ(device::HostPath(u"\\..\\..\\etc\\passwd"), root / "etc" / "passwd");
    EXPECT_EQ(device::HostPath(u"..\\..\\..\\windows\\..\\..\\WINDOWS\\alarm1.MID"),
              root / "Windows" / "Alarm1.mid");
    // A missing folder undone by ".." lets the lookup match case again.
    EXPECT_EQ(device::HostPath(u"\\Missing\\..\\windows"), root / "Windows");
}

TEST_F(PathsTest, InvalidUtf8HostNamesMapBackToTheSameFile) {
    const std::string raw = "bad\xff\xfe.wav";
    Touch(raw);
    const std::u16string deviceName = text::FromUtf8(raw);
    ASSERT_EQ(deviceName.size(), raw.size());
    EXPECT_EQ(deviceName[3], char16_t(0xDCFF));
    EXPECT_EQ(device::HostPath(u"\\" + deviceName), root / raw);
    std::u16string upper = deviceName;
    upper[0] = u'B';
    upper[upper.size() - 3] = u'W';
    EXPECT_EQ(device::HostPath(u"\\" + upper), root / raw);
}

TEST_F(PathsTest, NameEndsAtTheFirstNul) {
    const std::u16string withNul(u"\\Windows\0\\Other", 15);
    EXPECT_EQ(device::HostPath(withNul), root / "Windows");
}

}  // namespace
