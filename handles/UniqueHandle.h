// Owner types for Windows handles: every path closes what it opened.
#pragma once

#include <windows.h>

template <class Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    explicit Unique(Type h = Traits::invalid()) : h_(h) {}
    ~Unique() { reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : h_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }

    void reset(Type h = Traits::invalid())
    {
        if (h_ != Traits::invalid()) Traits::close(h_);
        h_ = h;
    }
    Type get() const { return h_; }
    Type release()
    {
        Type h = h_;
        h_ = Traits::invalid();
        return h;
    }
    // For out-parameters: closes what is held first.
    Type* put()
    {
        reset();
        return &h_;
    }
    explicit operator bool() const { return h_ != Traits::invalid(); }

private:
    Type h_;
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { (void)RegCloseKey(h); }
};

// Processes, tokens, events: empty value is NULL.
struct HandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { (void)CloseHandle(h); }
};

// Files and toolhelp snapshots: empty value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { (void)CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { (void)FindClose(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { (void)FreeLibrary(h); }
};

using UniqueRegKey = Unique<RegKeyTraits>;
using UniqueHandle = Unique<HandleTraits>;
using UniqueFileHandle = Unique<FileHandleTraits>;
using UniqueFindHandle = Unique<FindHandleTraits>;
using UniqueModule = Unique<ModuleTraits>;
