// SPDX-License-Identifier: GPL-3.0-or-later
// Typed property reads, the error text and the channel-count query, against the fake platform.
#include "audio/CoreAudioProperty.h"
#include "audio/FakeAudioPlatform.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

template <typename F>
AudioError captureError(F &&f)
{
    try {
        f();
    } catch (const AudioError &e) {
        return e;
    }
    ADD_FAILURE() << "no AudioError thrown";
    return AudioError(0, "");
}

TEST(AudioErrorText, four_cc_is_quoted_only_when_all_bytes_are_printable)
{
    // First byte 0x7F and 0x1F, the printable edges, negative statuses (PipeWire errnos) and 0.
    const std::pair<OSStatus, const char *> cases[] = {
        {2130706432, "2130706432"}, {526475875, "526475875"}, {538976288, "'    ' / 538976288"},
        {0x7E7E7E7E, "'~~~~' / 2122219134"}, {-50, "-50"}, {-111, "-111"}, {0, "0"}};
    for (auto [status, text] : cases)
        EXPECT_EQ(AudioError::fourCC(status), text) << status;
}

TEST(AudioErrorText, descriptions_name_operation_and_status)
{
    EXPECT_EQ(AudioError(OSStatus(fourCharCode("nope")), "Aggregate-Device erstellen").errorDescription(),
              "Aggregate-Device erstellen fehlgeschlagen ('nope' / 1852797029)");
    const AudioError e(kAudioStatusBadFormat, "Tap liefert kein 32-Bit-Float-PCM");
    EXPECT_STREQ(e.what(), "Tap liefert kein 32-Bit-Float-PCM fehlgeschlagen ('!dat' / 560226676)");
    EXPECT_EQ(e.localizedDescription(), QString::fromStdString(e.errorDescription()));
}

class PropertyReads : public ::testing::Test {
protected:
    FakeAudioPlatform fake;
    AudioObjectID speakers = fake.addDevice("speakers", "Lautsprecher", 44100.0, 256);
};

TEST_F(PropertyReads, plain_values_come_back_or_throw_the_status_with_the_operation)
{
    EXPECT_EQ(CoreAudioProperty::read<double>(fake, speakers, globalAddress(kAudioDevicePropertyNominalSampleRate),
                                              0.0, "Samplerate lesen"),
              44100.0);
    fake.failProperty(kAudioDevicePropertyNominalSampleRate, -5);
    const AudioError e = captureError([&] {
        CoreAudioProperty::read<double>(fake, speakers, globalAddress(kAudioDevicePropertyNominalSampleRate), 0.0,
                                        "Samplerate lesen");
    });
    EXPECT_EQ(e.status(), -5);
    EXPECT_EQ(e.operation(), "Samplerate lesen");
}

TEST_F(PropertyReads, string_with_success_but_no_value_throws_what)
{
    FakeAudioPlatform::Device nameless;
    nameless.uid = std::nullopt;
    const AudioObjectID dev = fake.addDevice(nameless);
    const AudioError e = captureError(
        [&] { CoreAudioProperty::readString(fake, dev, globalAddress(kAudioDevicePropertyDeviceUID), "Geraete-UID lesen"); });
    EXPECT_EQ(e.status(), kAudioStatusNoString);
    EXPECT_EQ(e.errorDescription(), "Geraete-UID lesen fehlgeschlagen ('what' / 2003329396)");

    EXPECT_EQ(CoreAudioProperty::readString(fake, speakers, globalAddress(kAudioObjectPropertyName), "Geraetename lesen"),
              "Lautsprecher");
    fake.failProperty(kAudioObjectPropertyName, -2);
    EXPECT_EQ(captureError([&] {
                  CoreAudioProperty::readString(fake, speakers, globalAddress(kAudioObjectPropertyName),
                                                "Geraetename lesen");
              }).status(),
              -2);
}

TEST_F(PropertyReads, array_below_four_bytes_is_empty_without_a_second_call)
{
    fake.overridePropertySize(kAudioHardwarePropertyDevices, 2);
    const std::size_t readsBefore = fake.callCount(FakeAudioPlatform::Op::getPropertyData);
    EXPECT_TRUE(CoreAudioProperty::readArray(fake, kAudioObjectSystemObject,
                                             globalAddress(kAudioHardwarePropertyDevices), "Geraeteliste lesen")
                    .empty());
    EXPECT_EQ(fake.callCount(FakeAudioPlatform::Op::getPropertyData), readsBefore);
}

TEST_F(PropertyReads, array_size_failure_names_the_size_query)
{
    const AudioObjectID second = fake.addDevice("usb", "USB");
    EXPECT_EQ(CoreAudioProperty::readArray(fake, kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices),
                                           "Geraeteliste lesen"),
              (std::vector<std::uint32_t>{speakers, second}));

    fake.failProperty(kAudioHardwarePropertyDevices, -19, 0, true);
    AudioError e = captureError([&] {
        CoreAudioProperty::readArray(fake, kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices),
                                     "Geraeteliste lesen");
    });
    EXPECT_EQ(e.operation(), "Geraeteliste lesen (Groesse)");
    EXPECT_EQ(e.status(), -19);

    fake.failProperty(kAudioHardwarePropertyDevices, -20, 0, false);  // size fine, data read fails
    e = captureError([&] {
        CoreAudioProperty::readArray(fake, kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices),
                                     "Geraeteliste lesen");
    });
    EXPECT_EQ(e.operation(), "Geraeteliste lesen");
    EXPECT_EQ(e.status(), -20);
}

TEST_F(PropertyReads, output_channel_count_sums_all_output_streams_and_never_throws)
{
    fake.device(speakers).outputStreams = {2, 6};
    EXPECT_EQ(AudioSystem::outputChannelCount(fake, speakers), 8);
    fake.device(speakers).outputStreams = {};
    EXPECT_EQ(AudioSystem::outputChannelCount(fake, speakers), 0);
    EXPECT_EQ(AudioSystem::outputChannelCount(fake, 9999), 0);  // no such device

    fake.device(speakers).outputStreams = {2};
    fake.failProperty(kAudioDevicePropertyStreamConfiguration, -1, 0, false);
    EXPECT_EQ(AudioSystem::outputChannelCount(fake, speakers), 0);
    fake.clearFailures();
    // A size that promises more than the record holds must not make the count read garbage.
    fake.overridePropertySize(kAudioDevicePropertyStreamConfiguration, 1u << 20);
    EXPECT_EQ(AudioSystem::outputChannelCount(fake, speakers), 2);
}

TEST_F(PropertyReads, process_object_and_tap_format_throw_their_own_operations)
{
    fake.setProcessObject(4242, 77);
    EXPECT_EQ(AudioSystem::processObject(fake, 4242), 77u);
    EXPECT_EQ(AudioSystem::processObject(fake, 1), 0u);  // unknown process: 0, not an error
    fake.failProperty(kAudioHardwarePropertyTranslatePIDToProcessObject, -3);
    EXPECT_EQ(captureError([&] { AudioSystem::processObject(fake, 4242); }).errorDescription(),
              "Eigenes Prozessobjekt ermitteln fehlgeschlagen (-3)");

    CATapDescription tap;
    tap.uuid = "X";
    AudioObjectID tapID = 0;
    ASSERT_EQ(fake.createProcessTap(tap, tapID), 0);
    EXPECT_EQ(AudioTapProperty::streamDescription(fake, tapID).mChannelsPerFrame, 2u);
    fake.failProperty(kAudioTapPropertyFormat, -50);
    EXPECT_EQ(captureError([&] { AudioTapProperty::streamDescription(fake, tapID); }).errorDescription(),
              "Tap-Format lesen fehlgeschlagen (-50)");
}

} // namespace
