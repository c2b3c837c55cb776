// A fresh temporary device folder for each test; the real device folder and home are never used.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

class TempDevice {
  public:
    TempDevice();
    ~TempDevice();
    TempDevice(const TempDevice&) = delete;
    TempDevice& operator=(const TempDevice&) = delete;

    // The device folder (not yet created: the platform creates it on first use).
    const std::filesystem::path& Folder() const { return folder_; }

  private:
    std::filesystem::path top_;
    std::filesystem::path folder_;
};

class DeviceTest : public ::testing::Test {
  protected:
    TempDevice device;
};
