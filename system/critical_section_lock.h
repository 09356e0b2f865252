#pragma once
// One critical section, allocated separately and initialised on
// construction. Not copyable: a critical section cannot be duplicated.

class CriticalSectionLock {
public:
    CriticalSectionLock();
    ~CriticalSectionLock();
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

    void enter();
    void leave();
    // Deletes the section and frees its memory; later calls do nothing.
    void destroy();

    // Holds the lock for one scope.
    class Scope {
    public:
        explicit Scope(CriticalSectionLock& lock) : lock_(lock) { lock_.enter(); }
        ~Scope() { lock_.leave(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        CriticalSectionLock& lock_;
    };

private:
    struct Section;
    Section* section_ = nullptr;
};
