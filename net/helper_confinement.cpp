#include "net/helper_confinement.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <memory>

#include "net/helper_channel.h"

namespace orvanel {
namespace {

bool KeepOnlyCaptureRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  data[CAP_TO_INDEX(CAP_NET_RAW)].permitted = CAP_TO_MASK(CAP_NET_RAW);
  data[CAP_TO_INDEX(CAP_NET_RAW)].effective = CAP_TO_MASK(CAP_NET_RAW);
  return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0 && syscall(SYS_capset, &header, data) == 0;
}

using Filter = std::unique_ptr<void, decltype(&seccomp_release)>;

bool Allow(const Filter& filter, int call) { return seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, call, 0) == 0; }

// An argument equal to value (the library's macro leaves its second datum out).
scmp_arg_cmp ArgumentIs(unsigned argument, scmp_datum_t value) { return {argument, SCMP_CMP_EQ, value, 0}; }

// The loop waits (poll), reads the kernel's drop counts (getsockopt), looks
// up whether its interface still exists (if_indextoname: a datagram Unix
// socket and SIOCGIFNAME) and whether its socket is still bound to it after
// an error (getsockname), and is woken through an eventfd, the only
// descriptor written. The channel is read and written only on its own
// descriptor; list files passed over it after a Clear are looked at
// (fstat, the F_GETFL of fcntl) and mapped. Memory calls never make anything
// executable; the rest is what threads (a thread made just before the
// filter registers itself with rseq after it) and exiting take.
bool AddRules(const Filter& filter, int wakeFd) {
  for (const int call :
       {SCMP_SYS(read),          SCMP_SYS(close),           SCMP_SYS(poll),           SCMP_SYS(ppoll),
        SCMP_SYS(getsockopt),    SCMP_SYS(getsockname),     SCMP_SYS(futex),          SCMP_SYS(exit),
        SCMP_SYS(exit_group),    SCMP_SYS(rt_sigreturn),    SCMP_SYS(rt_sigprocmask), SCMP_SYS(restart_syscall),
        SCMP_SYS(clock_gettime), SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep),      SCMP_SYS(brk),
        SCMP_SYS(munmap),        SCMP_SYS(madvise),         SCMP_SYS(getpid),         SCMP_SYS(gettid),
        SCMP_SYS(tgkill),        SCMP_SYS(sched_yield),     SCMP_SYS(rseq),           SCMP_SYS(set_robust_list),
        SCMP_SYS(fstat)}) {
    if (!Allow(filter, call)) return false;
  }
  if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(write), 1,
                       ArgumentIs(0, static_cast<scmp_datum_t>(wakeFd))) != 0) {
    return false;
  }
  const scmp_datum_t channel = kHelperChannelFd;
  for (const int call : {SCMP_SYS(recvfrom), SCMP_SYS(recvmsg), SCMP_SYS(sendto), SCMP_SYS(sendmsg)}) {
    if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, call, 1, ArgumentIs(0, channel)) != 0) return false;
  }
  for (const int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)}) {
    if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, call, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) != 0) {
      return false;
    }
  }
  return seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(newfstatat), 1, ArgumentIs(3, AT_EMPTY_PATH)) == 0 &&
         seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(fcntl), 1, ArgumentIs(1, F_GETFL)) == 0 &&
         seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(socket), 2, ArgumentIs(0, AF_UNIX),
                          ArgumentIs(1, SOCK_DGRAM | SOCK_CLOEXEC)) == 0 &&
         seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(ioctl), 1, ArgumentIs(1, SIOCGIFNAME)) == 0;
}

}  // namespace

bool ConfineSocketHelper(int wakeFd) {
  if (!KeepOnlyCaptureRight() || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  const Filter filter(seccomp_init(SCMP_ACT_KILL_PROCESS), &seccomp_release);
  return filter && seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_TSYNC, 1) == 0 && AddRules(filter, wakeFd) &&
         seccomp_load(filter.get()) == 0;
}

}  // namespace orvanel
