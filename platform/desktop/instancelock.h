#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace tarnwick {

// One running copy per name and user. The holder keeps the name until it ends (or releases
// it); a later copy can ask the holder to come forward.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    // True when this process now holds the name, false when a live copy holds it.
    virtual bool acquire(const QString& name) = 0;
    // In the holder: `activate` runs on the main thread each time a later copy asks.
    virtual void onActivate(std::function<void()> activate) = 0;
    // In a later copy: asks the holder to come forward; false when it could not be reached.
    virtual bool activateHolder() = 0;

    // The Linux lock for the process.
    static std::unique_ptr<InstanceLock> create();
};

// A lock file in $XDG_RUNTIME_DIR, locked while its holder lives (the file itself stays), and a
// local socket beside it on which the holder hears later copies.
std::unique_ptr<InstanceLock> createLocalInstanceLock(const QString& folder);

} // namespace tarnwick
