#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "AppFixture.h"
#include "ScratchDevice.h"
#include "diag/CDlgTest.h"

namespace app_test {
namespace {

using namespace testdlg;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kDevice = 0x5A;

class TestDialogTest : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        machine.AddGpu(0x1000, "RTX A").Attach(1, kDevice, device);
    }

    // Opens the Internal Test dialog on GPU 0 and lets `user` work it.
    void Open(std::function<void(HeadlessDialog&)> user) {
        CDlgTest dialog(Gpus(), 0, L"HalvornController");
        framework.AddSession(std::move(user));
        framework.RunModal(res::TestDialog(), dialog);
    }

    static void Type(HeadlessDialog& window, const std::wstring& address, const std::wstring& reg) {
        window.TypeText(kAddress, address);
        window.TypeText(kRegister, reg);
    }

    const std::vector<sim::LogEntry>& Transfers() const { return machine.Log().Entries(); }

    std::shared_ptr<ScratchDevice> device = std::make_shared<ScratchDevice>();
};

TEST_F(TestDialogTest, OpensWithZerosAndTransfersNothingUntilTheFieldsWereEdited) {
    Open([&](HeadlessDialog& window) {
        EXPECT_EQ(window.Text(kAddress), L"0");
        EXPECT_EQ(window.Text(kRegister), L"0");
        EXPECT_EQ(window.Text(kData), L"0");
        EXPECT_EQ(window.Text(kPort), L"0");
        EXPECT_FALSE(window.Panel().IsChecked(kWordAccess));
        EXPECT_FALSE(window.Panel().IsChecked(kMsbFirst));
        EXPECT_EQ(window.FocusedControl(), kAddress);
        window.Click(kRead);
        window.Click(kWrite);
        for (int status : {kResult, kAddressEcho, kRegisterEcho, kDataEcho}) EXPECT_EQ(window.Text(status), L"");
    });
    EXPECT_TRUE(Transfers().empty());
    EXPECT_TRUE(framework.Messages().empty());
}

// Every key's handler copies the fields back into the dialog; the keys typed after it must still
// land behind the ones before, in all three hex fields.
TEST_F(TestDialogTest, TypedKeysStayInOrderThroughEveryEcho) {
    device->registers[0x1C] = {0x34, 0x12};
    Open([&](HeadlessDialog& window) {
        window.Click(kWordAccess);
        Type(window, L"5A", L"1C");
        window.TypeText(kData, L"1234");
        EXPECT_EQ(window.Text(kAddress), L"5A");
        EXPECT_EQ(window.Text(kRegister), L"1C");
        EXPECT_EQ(window.Text(kData), L"1234");
        EXPECT_EQ(window.Text(kAddressEcho), L"5Ah");
        EXPECT_EQ(window.Text(kRegisterEcho), L"1Ch");
        EXPECT_EQ(window.Text(kDataEcho), L"1234h");
        EXPECT_EQ(window.Panel().Caret(kData), 4);
        window.Click(kRead);
        EXPECT_EQ(window.Text(kResult), L"OK");
    });
    ASSERT_EQ(Transfers().size(), 1u);
    EXPECT_EQ(Transfers()[0].device, 0x5A);
    EXPECT_EQ(Transfers()[0].reg, 0x1C);
}

// The caret stays where the user put it: a key typed in the middle goes in there, Backspace takes
// the character before it.
TEST_F(TestDialogTest, KeysGoInWhereTheUserPutTheCaret) {
    Open([&](HeadlessDialog& window) {
        window.TypeText(kRegister, L"1C");
        window.PlaceCaret(kRegister, 1);
        window.TypeKeys(kRegister, L"0");
        EXPECT_EQ(window.Text(kRegister), L"10C");
        EXPECT_EQ(window.Text(kRegisterEcho), L"invalid");
        window.TypeKeys(kRegister, L"\b");
        EXPECT_EQ(window.Text(kRegister), L"1C");
        EXPECT_EQ(window.Text(kRegisterEcho), L"1Ch");
        window.PlaceCaret(kRegister, 0);
        window.TypeKeys(kRegister, L"0x");
        EXPECT_EQ(window.Text(kRegister), L"0x1C");
        EXPECT_EQ(window.Text(kRegisterEcho), L"1Ch");
        EXPECT_EQ(window.Panel().Caret(kRegister), 2);
    });
}

struct HexCase {
    const char* name;
    friend void PrintTo(const HexCase& c, std::ostream* os) { *os << c.name; }
    std::wstring typed;
    std::wstring echo;
    std::optional<std::uint8_t> address;  // nullopt: invalid, Read does nothing
};

class AddressValidationTest : public TestDialogTest, public ::testing::WithParamInterface<HexCase> {};

TEST_P(AddressValidationTest, EchoesTheValueOrInvalidAndGatesRead) {
    Open([&](HeadlessDialog& window) {
        Type(window, GetParam().typed, L"10");
        EXPECT_EQ(window.Text(kAddressEcho), GetParam().echo);
        EXPECT_EQ(window.Text(kAddress), GetParam().typed);
        window.Click(kRead);
    });
    if (GetParam().address) {
        ASSERT_EQ(Transfers().size(), 1u);
        EXPECT_EQ(Transfers()[0].device, *GetParam().address);
        EXPECT_EQ(Transfers()[0].reg, 0x10);
    } else {
        EXPECT_TRUE(Transfers().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AddressValidationTest,
                         ::testing::Values(HexCase{"Upper", L"5A", L"5Ah", 0x5A}, HexCase{"Lower", L"5a", L"5Ah", 0x5A},
                                           HexCase{"WithSuffix", L"5Ah", L"5Ah", 0x5A},
                                           HexCase{"WithPrefix", L"0x5a", L"5Ah", 0x5A},
                                           HexCase{"WithUpperPrefix", L"0X5A", L"5Ah", 0x5A},
                                           HexCase{"LeadingSpace", L" \t5A", L"5Ah", 0x5A},
                                           HexCase{"PlusSign", L"+5A", L"5Ah", 0x5A},
                                           HexCase{"Largest", L"FF", L"FFh", 0xFF},
                                           HexCase{"Emptied", L"", L"0h", 0x00},
                                           HexCase{"NoDigits", L"zz", L"0h", 0x00},
                                           HexCase{"TooLarge", L"100", L"invalid", std::nullopt},
                                           HexCase{"Negative", L"-1", L"invalid", std::nullopt},
                                           HexCase{"BeyondThirtyTwoBits", L"123456789", L"invalid", std::nullopt}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(TestDialogTest, InvalidRegisterBlocksReadAndWriteUntilCorrected) {
    Open([&](HeadlessDialog& window) {
        Type(window, L"5A", L"100");
        window.TypeText(kData, L"12");
        EXPECT_EQ(window.Text(kRegisterEcho), L"invalid");
        window.Click(kRead);
        window.Click(kWrite);
        EXPECT_EQ(window.Text(kResult), L"");
        window.TypeText(kRegister, L"10");
        EXPECT_EQ(window.Text(kRegisterEcho), L"10h");
        window.Click(kWrite);
        EXPECT_EQ(window.Text(kResult), L"OK");
    });
    ASSERT_EQ(Transfers().size(), 1u);
    EXPECT_EQ(Transfers()[0].kind, sim::LogEntry::Kind::Write);
    EXPECT_EQ(Transfers()[0].bytes, Bytes{0x12});
}

TEST_F(TestDialogTest, DataLimitFollowsTheWordBoxAndEveryChangeEmptiesTheResult) {
    device->registers[0x10] = {0x01};
    Open([&](HeadlessDialog& window) {
        Type(window, L"5A", L"10");
        window.TypeText(kData, L"1FF");
        EXPECT_EQ(window.Text(kDataEcho), L"invalid");
        window.Click(kWordAccess);
        EXPECT_EQ(window.Text(kDataEcho), L"1FFh");
        window.Click(kWordAccess);
        EXPECT_EQ(window.Text(kDataEcho), L"invalid");

        for (const std::function<void()>& change : std::vector<std::function<void()>>{
                 [&] { window.TypeText(kAddress, L"5A"); }, [&] { window.TypeText(kRegister, L"10"); },
                 [&] { window.TypeText(kData, L"1"); }, [&] { window.Click(kWordAccess); }}) {
            window.Click(kRead);
            ASSERT_EQ(window.Text(kResult), L"OK");
            change();
            EXPECT_EQ(window.Text(kResult), L"");
        }
    });
}

struct WriteCase {
    const char* name;
    friend void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }
    bool word;
    bool msbFirst;
    std::wstring data;
    Bytes sent;
};

class WriteTest : public TestDialogTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, SendsTheBytesInTheChosenOrder) {
    Open([&](HeadlessDialog& window) {
        if (GetParam().word) window.Click(kWordAccess);
        if (GetParam().msbFirst) window.Click(kMsbFirst);
        Type(window, L"5A", L"10");
        window.TypeText(kData, GetParam().data);
        window.Click(kWrite);
        EXPECT_EQ(window.Text(kResult), L"OK");
    });
    ASSERT_EQ(Transfers().size(), 1u);
    const sim::LogEntry& write = Transfers()[0];
    EXPECT_EQ(write.kind, sim::LogEntry::Kind::Write);
    EXPECT_EQ(write.gpu, 0u);
    EXPECT_EQ(write.device, kDevice);
    EXPECT_EQ(write.reg, 0x10);
    EXPECT_EQ(write.bytes, GetParam().sent);
    EXPECT_EQ(write.length, GetParam().sent.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteTest,
                         ::testing::Values(WriteCase{"WordLsbFirst", true, false, L"1234", {0x34, 0x12}},
                                           WriteCase{"WordMsbFirst", true, true, L"1234", {0x12, 0x34}},
                                           WriteCase{"Byte", false, false, L"34", {0x34}},
                                           WriteCase{"ByteIgnoresMsbFirst", false, true, L"34", {0x34}},
                                           WriteCase{"WordSmallValue", true, false, L"7", {0x07, 0x00}}),
                         [](const auto& p) { return std::string(p.param.name); });

struct ReadCase {
    const char* name;
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
    bool word;
    bool msbFirst;
    Bytes onBoard;
    std::wstring data;
};

class ReadTest : public TestDialogTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, ShowsTheValueInLowerCaseHexadecimal) {
    device->registers[0x10] = GetParam().onBoard;
    Open([&](HeadlessDialog& window) {
        if (GetParam().word) window.Click(kWordAccess);
        if (GetParam().msbFirst) window.Click(kMsbFirst);
        Type(window, L"5A", L"10");
        window.Click(kRead);
        EXPECT_EQ(window.Text(kData), GetParam().data);
        EXPECT_EQ(window.Text(kDataEcho), GetParam().data + L"h");
        EXPECT_EQ(window.Text(kResult), L"OK");
    });
    ASSERT_EQ(Transfers().size(), 1u);
    EXPECT_EQ(Transfers()[0].length, GetParam().word ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadTest,
                         ::testing::Values(ReadCase{"WordLsbFirst", true, false, {0x34, 0x12}, L"1234"},
                                           ReadCase{"WordMsbFirst", true, true, {0x34, 0x12}, L"3412"},
                                           ReadCase{"Byte", false, false, {0xAB, 0x12}, L"ab"},
                                           ReadCase{"ByteIgnoresMsbFirst", false, true, {0xAB, 0x12}, L"ab"},
                                           ReadCase{"Zero", true, false, {0x00, 0x00}, L"0"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(TestDialogTest, ReadValueIsNotValidatedAndTypedValueEchoesInUpperCase) {
    device->registers[0x10] = {0xAB};
    Open([&](HeadlessDialog& window) {
        Type(window, L"5A", L"10");
        window.TypeText(kData, L"1FF");
        window.Click(kRead);
        EXPECT_EQ(window.Text(kData), L"ab");
        EXPECT_EQ(window.Text(kDataEcho), L"abh");
        // The data is still taken as the invalid text it replaced.
        window.Click(kWrite);
        EXPECT_EQ(window.Text(kResult), L"OK");
        window.TypeText(kData, L"AB");
        EXPECT_EQ(window.Text(kDataEcho), L"ABh");
    });
    ASSERT_EQ(Transfers().size(), 1u);
    EXPECT_EQ(Transfers()[0].kind, sim::LogEntry::Kind::Read);
}

TEST_F(TestDialogTest, FailedTransferShowsNgAndKeepsTheData) {
    Open([&](HeadlessDialog& window) {
        Type(window, L"5C", L"10");  // nothing answers at 5C
        window.TypeText(kData, L"42");
        window.Click(kRead);
        EXPECT_EQ(window.Text(kResult), L"NG");
        EXPECT_EQ(window.Text(kData), L"42");
        EXPECT_EQ(window.Text(kDataEcho), L"42h");
        window.Click(kWrite);
        EXPECT_EQ(window.Text(kResult), L"NG");
    });
    ASSERT_EQ(Transfers().size(), 2u);
    EXPECT_FALSE(Transfers()[0].ok());
    EXPECT_FALSE(Transfers()[1].ok());
}

struct PortCase {
    const char* name;
    friend void PrintTo(const PortCase& c, std::ostream* os) { *os << c.name; }
    bool paste;  // typed keys reach a digits-only field only as digits; pasted text arrives whole
    std::wstring text;
    std::optional<std::uint8_t> port;  // nullopt: refused with the message
};

class PortTest : public TestDialogTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortTest, IsTakenAsADecimalByteOrRefusedWithTheFrameworksMessage) {
    const PortCase& c = GetParam();
    Open([&](HeadlessDialog& window) {
        window.TypeText(kRegister, L"10");
        if (c.paste) window.PasteText(kPort, c.text);
        else window.TypeText(kPort, c.text);
        window.TypeText(kAddress, L"5A");
        if (!c.port) {
            // The first key's handler stopped at the port and took the focus there.
            EXPECT_EQ(window.FocusedControl(), kPort);
            EXPECT_EQ(window.Text(kAddressEcho), L"5h");
            // The copy back put the last port taken over the selected text, caret at the start.
            EXPECT_EQ(window.Text(kPort), L"0");
            EXPECT_FALSE(window.FocusTextSelected());
            EXPECT_EQ(window.Panel().Caret(kPort), 0);
            window.TypeText(kAddress, L"5A");
        }
        window.Click(kRead);
    });
    ASSERT_EQ(framework.Messages().size(), c.port ? 0u : 1u);
    if (!c.port) {
        const HeadlessMessage& message = framework.Messages()[0];
        EXPECT_EQ(message.text, L"Enter an integer between 0 and 255.");
        EXPECT_EQ(message.caption, L"HalvornController");
        EXPECT_EQ(message.icon, MessageIcon::Warning);
        EXPECT_EQ(message.ownerDialogId, res::kTestDialogId);
    }
    // A refused port went back to the last one taken, 0.
    const std::uint8_t port = c.port.value_or(0);
    ASSERT_EQ(Transfers().size(), 1u);
    EXPECT_EQ(Transfers()[0].portSet, port != 0);
    EXPECT_EQ(Transfers()[0].port, port);
    EXPECT_EQ(Transfers()[0].device, kDevice);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortTest,
    ::testing::Values(PortCase{"Zero", false, L"0", 0}, PortCase{"One", false, L"1", 1},
                      PortCase{"Largest", false, L"255", 255}, PortCase{"LettersRefusedWhenTyped", false, L"1x2", 12},
                      PortCase{"PastedWithSpaceAndTail", true, L" \t12abc", 12},
                      PortCase{"DigitsWithinTheFirst63Characters", true, std::wstring(62, L' ') + L"5", 5},
                      PortCase{"TooLarge", false, L"256", std::nullopt},
                      PortCase{"FarTooLarge", false, L"99999999999", std::nullopt},
                      PortCase{"Emptied", false, L"", std::nullopt},
                      PortCase{"PastedWithoutDigits", true, L"abc", std::nullopt},
                      PortCase{"PastedSign", true, L"+5", std::nullopt},
                      PortCase{"DigitsBeyondThe63rdCharacter", true, std::wstring(63, L' ') + L"5", std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(TestDialogTest, RefusedPortLeavesTheBoxesAtTheLastCompleteCopy) {
    Open([&](HeadlessDialog& window) {
        Type(window, L"5A", L"10");
        window.Click(kWordAccess);
        window.TypeText(kData, L"1FF");
        EXPECT_EQ(window.Text(kDataEcho), L"1FFh");
        window.TypeText(kPort, L"300");
        window.Click(kMsbFirst);
        // Unticking the word box reads the fields, which stops at the port: the data is still
        // checked as a word, and both boxes return to what was last taken.
        window.Click(kWordAccess);
        EXPECT_EQ(framework.Messages().size(), 1u);
        EXPECT_EQ(window.Text(kDataEcho), L"1FFh");
        EXPECT_TRUE(window.Panel().IsChecked(kWordAccess));
        EXPECT_FALSE(window.Panel().IsChecked(kMsbFirst));
        EXPECT_EQ(window.Text(kPort), L"0");
        window.Click(kWrite);
    });
    ASSERT_EQ(Transfers().size(), 1u);
    EXPECT_EQ(Transfers()[0].bytes, (Bytes{0xFF, 0x01}));
}

TEST_F(TestDialogTest, EnterDoesNothingAndEscCloses) {
    Open([&](HeadlessDialog& window) {
        Type(window, L"5A", L"10");
        EXPECT_TRUE(window.PressEnter());
        EXPECT_TRUE(window.IsRunning());
        EXPECT_EQ(window.Text(kAddressEcho), L"5Ah");
        EXPECT_TRUE(window.PressEsc());
        EXPECT_FALSE(window.IsRunning());
    });
    EXPECT_EQ(framework.Dialog(0).EndCode(), kIdCancel);
    EXPECT_EQ(framework.StuckDialogs(), 0);
}

}  // namespace
}  // namespace app_test
