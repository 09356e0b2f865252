#include "system/critical_section_lock.h"

#include <mutex>

// A critical section may be entered again by its owner.
struct CriticalSectionLock::Section {
    std::recursive_mutex mutex;
};

CriticalSectionLock::CriticalSectionLock() : section_(new Section) {}

CriticalSectionLock::~CriticalSectionLock() { destroy(); }

void CriticalSectionLock::enter() {
    if (section_) section_->mutex.lock();
}

void CriticalSectionLock::leave() {
    if (section_) section_->mutex.unlock();
}

void CriticalSectionLock::destroy() {
    delete section_;
    section_ = nullptr;
}
