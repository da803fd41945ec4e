#include "storage/mapped_access.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>

namespace torrent
{
namespace
{

// The jump target of the guarded call running on this thread, or null. Volatile: the
// compiler must neither drop nor move the stores around the access (it sees that memcpy
// does not read it, but the signal handler does).
thread_local sigjmp_buf* volatile t_guard = nullptr;

struct sigaction g_previous
{
};

// ThreadSanitizer runs a handler with every signal blocked and leaves that mask in place
// across the jump out of it, so the next fault would kill the process: under it the
// guard saves and restores the signal mask.
#if defined(__SANITIZE_THREAD__)
constexpr int save_signal_mask = 1;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int save_signal_mask = 1;
#else
constexpr int save_signal_mask = 0;
#endif
#else
constexpr int save_signal_mask = 0;
#endif

void on_sigbus(int sig, siginfo_t* info, void* context)
{
    if (sigjmp_buf* target = t_guard)
    {
        t_guard = nullptr;
        siglongjmp(*target, 1);
    }
    // Not a fault of ours: whoever handled SIGBUS before us, else the default action.
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr)
    {
        g_previous.sa_sigaction(sig, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN
        && g_previous.sa_handler != nullptr)
    {
        g_previous.sa_handler(sig);
        return;
    }
    ::signal(SIGBUS, SIG_DFL);
    ::raise(SIGBUS);
}

struct copy_step
{
    void* to;
    const void* from;
    std::size_t n;
};

void run_copy(void* context) noexcept
{
    const auto* c = static_cast<const copy_step*>(context);
    std::memcpy(c->to, c->from, c->n);
}

} // namespace

void install_mapping_fault_handler() noexcept
{
    static std::once_flag once;
    std::call_once(
        once,
        []
        {
            struct sigaction action
            {
            };

            action.sa_sigaction = on_sigbus;
            // SA_NODEFER: the jump out of the handler leaves SIGBUS unblocked, so the guard
            // need not save and restore the signal mask (a system call) on every access.
            action.sa_flags = SA_SIGINFO | SA_NODEFER;
            sigemptyset(&action.sa_mask);
            ::sigaction(SIGBUS, &action, &g_previous);
        });
}

bool guarded_run(void (*step)(void*) noexcept, void* context) noexcept
{
    sigjmp_buf here;
    sigjmp_buf* const outer = t_guard;
    if (sigsetjmp(here, save_signal_mask) != 0)
    {
        t_guard = outer;
        return false;
    }
    t_guard = &here;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    step(context);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_guard = outer;
    return true;
}

bool guarded_copy(void* to, const void* from, std::size_t n) noexcept
{
    copy_step c{to, from, n};
    return guarded_run(run_copy, &c);
}

} // namespace torrent
