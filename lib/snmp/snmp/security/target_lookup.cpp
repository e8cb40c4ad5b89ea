// The host's target store interface: its lock and the default update.
#include "snmp/target_lookup.h"

#include "brask/sync.h"

namespace snmp {

TargetLookup::TargetLookup(Type type) : type_(type), mutex_(brask::Mutex::Create(true)) {}

// Each object owns one mutex, so it is deleted exactly once.
TargetLookup::TargetLookup(const TargetLookup& other)
    : type_(other.type_), mutex_(brask::Mutex::Create(true)) {}

TargetLookup& TargetLookup::operator=(const TargetLookup& other) {
    if (this != &other) type_ = other.type_;
    return *this;
}

TargetLookup::~TargetLookup() {
    delete mutex_;
}

void TargetLookup::UpdateTarget(Target* /*target*/, const Message& /*msg*/) {}

void TargetLookup::Lock() {
    mutex_->Lock();
}

void TargetLookup::Unlock() {
    mutex_->Unlock();
}

}  // namespace snmp
