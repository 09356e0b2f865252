#include "system/critical_section_lock.h"

#include <windows.h>

struct CriticalSectionLock::Section {
    CRITICAL_SECTION cs;
};

CriticalSectionLock::CriticalSectionLock() : section_(new Section) { InitializeCriticalSection(&section_->cs); }

CriticalSectionLock::~CriticalSectionLock() { destroy(); }

void CriticalSectionLock::enter() {
    if (section_) EnterCriticalSection(&section_->cs);
}

void CriticalSectionLock::leave() {
    if (section_) LeaveCriticalSection(&section_->cs);
}

void CriticalSectionLock::destroy() {
    if (!section_) return;
    DeleteCriticalSection(&section_->cs);
    delete section_;
    section_ = nullptr;
}
