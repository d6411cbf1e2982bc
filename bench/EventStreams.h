#pragma once
// What the benchmarks of the live view share: which event a waiting client takes for the change
// it waits for, and the median, p99 and maximum of the delivery times.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The change a client waits for: any event, a heat event of a running race, a heat event in which
// a lane has its place, a meeting event.
enum class Awaited { Any, Running, LanePlaced, Meeting };

inline bool eventShows(Awaited awaited, int lane, bool heat, std::string_view data)
{
    switch (awaited) {
    case Awaited::Any: return true;
    case Awaited::Meeting: return !heat;
    case Awaited::Running: return heat && data.find("\"running\":true") != std::string::npos;
    case Awaited::LanePlaced: {
        if (!heat)
            return false;
        const std::size_t at = data.find("{\"lane\":" + std::to_string(lane) + ",");
        if (at == std::string::npos)
            return false;
        const std::size_t place = data.find("\"place\":\"", at);
        return place != std::string::npos && place + 9 < data.size() && data[place + 9] != '"';
    }
    }
    return false;
}

struct Stats {
    double median = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};

inline Stats stats(std::vector<double> v)
{
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    s.median = at(0.5);
    s.p99 = at(0.99);
    s.max = v.back();
    s.count = v.size();
    return s;
}
