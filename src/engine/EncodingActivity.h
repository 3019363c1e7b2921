#pragma once
// Whether a file is being written in this process. While one is, the reader decodes on a
// thread of lower priority (see BackgroundDecoder), so that the encoder's threads take the
// processor first and the decoding fills the moments they leave a core idle: the encoder sets
// the pace of a job, and every moment it waits for a core makes the job longer.
#include <atomic>

namespace trimora::encoding {

inline std::atomic<int>& ActiveCount() {
    static std::atomic<int> count{0};
    return count;
}

inline bool Active() { return ActiveCount().load(std::memory_order_relaxed) > 0; }

// Counts as writing from construction to destruction.
class Activity {
public:
    Activity() { ActiveCount().fetch_add(1, std::memory_order_relaxed); }
    ~Activity() { ActiveCount().fetch_sub(1, std::memory_order_relaxed); }
    Activity(const Activity&) = delete;
    Activity& operator=(const Activity&) = delete;
};

}  // namespace trimora::encoding
