#pragma once
// Counts what a time-critical thread must never do: allocate (operator new) or lock a mutex
// (pthread_mutex_lock, under std::mutex and std::condition_variable). A test program linked with
// ThreadProbe.cpp replaces operator new and pthread_mutex_lock for the whole program; only the
// threads that asked for it are counted.

#include "Serial.h"

#include <cstdint>
#include <memory>

namespace probe {

// Counting on (or off) for the calling thread.
void countThisThread(bool on);

struct Counts {
    std::uint64_t allocations = 0;
    std::uint64_t locks = 0;
    bool operator==(const Counts &) const = default;
};
// Over every counted thread since the program started.
Counts counts();

// A device that hands every call to another one and counts its monitor thread from the first
// return of a wait on (the way from the wait to the hand-over, and every wait after it) until the
// monitor purges the device at its end.
class ProbedSerialDevice final : public platform::SerialDevice {
public:
    explicit ProbedSerialDevice(platform::SerialDevice &device) : device_(device) {}
    explicit ProbedSerialDevice(std::unique_ptr<platform::SerialDevice> device) : owned_(std::move(device)), device_(*owned_) {}
    Wait waitEvents(unsigned mask, unsigned &received, platform::LineEdges &edges) override
    {
        const Wait w = device_.waitEvents(mask, received, edges);
        countThisThread(true);
        return w;
    }
    void stop() override { device_.stop(); }
    int failure() const override { return device_.failure(); }
    std::optional<unsigned> modemStatus() override { return device_.modemStatus(); }
    int inQueue() override { return device_.inQueue(); }
    void purge() override
    {
        countThisThread(false);
        device_.purge();
    }

private:
    std::unique_ptr<platform::SerialDevice> owned_;
    platform::SerialDevice &device_;
};

// Opens the devices of another service, probed.
class ProbedSerialDevices final : public platform::SerialDevices {
public:
    explicit ProbedSerialDevices(platform::SerialDevices &devices) : devices_(devices) {}
    QString deviceName(int port) override { return devices_.deviceName(port); }
    std::unique_ptr<platform::SerialDevice> open(int port, const platform::SerialSettings &settings) override
    {
        return std::make_unique<ProbedSerialDevice>(devices_.open(port, settings));
    }
    std::unique_ptr<platform::SerialDevice> openNode(const QString &node, const platform::SerialSettings &settings) override
    {
        return std::make_unique<ProbedSerialDevice>(devices_.openNode(node, settings));
    }
    bool probe(int port) override { return devices_.probe(port); }

private:
    platform::SerialDevices &devices_;
};

} // namespace probe
