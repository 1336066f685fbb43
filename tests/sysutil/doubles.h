#pragma once

// Test doubles for the system services behind the system utilities.

#include "platform/desktop/networkshares.h"
#include "platform/memoryblocks.h"
#include "platform/memoryinfo.h"
#include "platform/printerqueues.h"
#include "platform/processor.h"

#include <QList>

#include <vector>

// Fixed memory figures.
class FakeMemoryInfo : public tarnwick::MemoryInfo {
public:
    FakeMemoryInfo(std::uint64_t total, std::uint64_t available) : figures{total, available} {}
    tarnwick::MemoryFigures read() const override { return figures; }
    tarnwick::MemoryFigures figures;
};

// Hands out distinct fake addresses and records what was taken and released; refuses from the
// failAt-th block on (1-based, 0 = never).
class FakeMemoryBlocks : public tarnwick::MemoryBlocks {
public:
    void* take(std::size_t) override {
        if (failAt > 0 && static_cast<int>(taken.size()) + 1 >= failAt) return nullptr;
        taken.push_back(reinterpret_cast<void*>(0x100000 * (taken.size() + 1)));
        return taken.back();
    }
    bool release(void* block, std::size_t) override {
        released.push_back(block);
        return true;
    }
    int failAt = 0;
    std::vector<void*> taken, released;
};

// Installs a double for the lifetime of a scope.
template <typename Service, typename Double> class Installed {
public:
    explicit Installed(Double& d) { Service::install(&d); }
    ~Installed() { Service::install(nullptr); }
};

// A processor that reports the given leaves.
class FakeProcessor : public tarnwick::Processor {
public:
    bool hasCpuid() const override { return true; }
    tarnwick::CpuidRegisters cpuid(std::uint32_t leaf) const override {
        return leaf < leaves.size() ? leaves[leaf] : tarnwick::CpuidRegisters{};
    }
    std::uint64_t timeStamp() const override { return 0x1234567890ABCDEFull; }
    std::vector<tarnwick::CpuidRegisters> leaves;
};

// Network shares kept in a list; a mount succeeds when the password is "secret".
class FakeNetworkShares : public tarnwick::NetworkShares {
public:
    int mount(const tarnwick::ShareLogin& login, QString* message) override {
        logins << login;
        if (login.password != QLatin1String("secret")) {
            if (message) *message = QStringLiteral("Permission denied");
            return tarnwick::netresult::LogonFailure;
        }
        shares << tarnwick::MountedShare{login.address.section('/', -1), login.address, {}};
        return tarnwick::netresult::Success;
    }
    void cancel() override { ++cancels; }
    QList<tarnwick::MountedShare> mounted() override { return shares; }
    int unmount(const QString& address, QString*) override {
        for (qsizetype i = 0; i < shares.size(); ++i)
            if (shares[i].address == address) {
                shares.removeAt(i);
                return tarnwick::netresult::Success;
            }
        return tarnwick::netresult::NotConnected;
    }
    QList<tarnwick::ShareLogin> logins;
    QList<tarnwick::MountedShare> shares;
    int cancels = 0;
};

class FakePrinterQueues : public tarnwick::PrinterQueues {
public:
    QStringList queues() override { return names; }
    QStringList names;
};
