// Choosing the output device from a list read earlier: the audio system's
// ids are the indices of its last probe, so a device plugged in renumbers the
// others. The open device and the user's pick are found again by name.
#include <gtest/gtest.h>

#include "output_rig.h"

namespace {

std::vector<AudioDeviceInfo> ThreeDevices() {
    return {FakeAudioBackend::MakeDevice(0, "Built-in"), FakeAudioBackend::MakeDevice(1, "Interface"),
            FakeAudioBackend::MakeDevice(2, "Headphones")};
}

TEST(OutputDeviceChoice, TheOpenDeviceKeepsItsPlaceByNameWhenIdsMove) {
    OutputRig rig(ThreeDevices(), 1);
    rig.Open(48000);
    ASSERT_EQ(rig.output.deviceId, 1u);
    // A device appears at the front of the probe: everything moves up one.
    rig.fake->devices = {FakeAudioBackend::MakeDevice(0, "USB Mic"), FakeAudioBackend::MakeDevice(1, "Built-in"),
                         FakeAudioBackend::MakeDevice(2, "Interface"), FakeAudioBackend::MakeDevice(3, "Headphones")};
    RefreshOutputDevices(rig.output);
    AudioOutputStatus status;
    ASSERT_TRUE(TryReadAudioOutputStatus(rig.output, status));
    ASSERT_EQ(status.selectedDevice, 2);
    EXPECT_EQ(status.devices[2].name, "Interface");
    EXPECT_EQ(status.deviceName, "Interface");
    EXPECT_EQ(rig.output.deviceId, 2u) << "a later reopen goes to the same device";
    const size_t opens = rig.fake->opens.size();
    SwitchAudioDevice(rig.output, 96000);
    ASSERT_EQ(rig.fake->opens.size(), opens + 1);
    EXPECT_EQ(rig.fake->opens.back().deviceId, 2u);
}

TEST(OutputDeviceChoice, APickFromAnOldListOpensTheDeviceOfThatName) {
    OutputRig rig(ThreeDevices(), 0);
    rig.Open(48000);
    rig.playing.store(1);
    // The user read the list, picked "Headphones" (id 2); the probe then moved it to 3.
    rig.fake->devices.insert(rig.fake->devices.begin(), FakeAudioBackend::MakeDevice(0, "Dock"));
    for (size_t i = 0; i < rig.fake->devices.size(); ++i) rig.fake->devices[i].id = uint32_t(i);
    std::vector<uint8_t> playingDuringOpen;
    rig.fake->onOpen = [&](const AudioStreamRequest&) { playingDuringOpen.push_back(rig.playing.load()); };
    EXPECT_TRUE(SelectOutputDevice(rig.output, "Headphones", 2));
    EXPECT_EQ(rig.fake->opens.back().deviceId, 3u);
    EXPECT_EQ(rig.output.deviceName, "Headphones");
    ASSERT_EQ(playingDuringOpen.size(), 1u);
    EXPECT_EQ(playingDuringOpen[0], 0) << "the transport waits while the stream reopens";
    EXPECT_EQ(rig.playing.load(), 1) << "and plays on afterwards";
    EXPECT_EQ(rig.output.engineRate.load(), 48000) << "at the engine's rate";

    // Picking the device the stream runs on opens nothing.
    const size_t attempts = rig.fake->attempts.size();
    EXPECT_TRUE(SelectOutputDevice(rig.output, "Headphones", 3));
    EXPECT_EQ(rig.fake->attempts.size(), attempts);
    // A device that has gone is not opened, and what plays keeps playing.
    EXPECT_FALSE(SelectOutputDevice(rig.output, "Interface 2", 1));
    EXPECT_EQ(rig.fake->attempts.size(), attempts);
    EXPECT_TRUE(rig.fake->StreamRunning());
}

TEST(OutputDeviceChoice, EqualNamesAreToldApartByTheirIds) {
    OutputRig rig({FakeAudioBackend::MakeDevice(0, "USB Audio"), FakeAudioBackend::MakeDevice(1, "USB Audio")}, 0);
    rig.Open(48000);
    EXPECT_TRUE(SelectOutputDevice(rig.output, "USB Audio", 1));
    EXPECT_EQ(rig.output.deviceId, 1u);
    RefreshOutputDevices(rig.output);
    EXPECT_EQ(rig.output.selectedDevice, 1);
}

}  // namespace
