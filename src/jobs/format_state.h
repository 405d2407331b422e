// The track formats and data type in force. The window changes them when the operator picks a
// data type; a job worker reads them for every card it reads or writes, so a change made while a
// job runs applies to the next card. Plain C++: no Qt.
#pragma once

#include <mutex>

#include "carddata/data_type.h"
#include "carddata/track_format.h"

namespace tollwick {

struct TrackFormat {
    TrackSet settings = kIsoTrackSet;
    DataType type = DataType::kIso;
    Track2Density density = Track2Density::k75;

    friend bool operator==(const TrackFormat&, const TrackFormat&) = default;
};

class FormatState {
  public:
    TrackFormat Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void Set(const TrackFormat& value) {
        std::lock_guard lock(mutex_);
        value_ = value;
    }
    TrackSet Settings() const { return Get().settings; }
    DataType Type() const { return Get().type; }
    Track2Density Density() const { return Get().density; }
    void SetDensity(Track2Density density) {
        std::lock_guard lock(mutex_);
        value_.density = density;
    }

  private:
    mutable std::mutex mutex_;
    TrackFormat value_;
};

}  // namespace tollwick
