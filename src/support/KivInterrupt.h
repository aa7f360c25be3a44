#pragma once

// Ends a run early without losing anything: SIGINT, SIGTERM and SIGHUP, and a reader of the
// decoded log that has gone, make the input end at the last whole line read. What was read is
// decoded and written, and the run ends as at the end of its input.
//
// Until install() is called nothing is caught, and a request comes only from request().
class KivInterrupt {
 public:
  // Catches SIGINT, SIGTERM and SIGHUP. Each handler is reset to the default action when it
  // runs, so a second signal of the same kind ends the process at once.
  static void install();

  // Asks the run to end as at the end of its input; `signal` is 0 when no signal asked.
  // Safe to call from a signal handler.
  static void request(int signal);
  static bool requested();
  // The first signal that asked the run to end, or 0.
  static int signal();
  // Forgets the request, for a process that decodes more than one input (a fuzz target).
  static void reset();

  // A descriptor that becomes readable once the end has been asked for, so that a wait for input
  // can also wait for it; -1 before install().
  static int wakeFd();
};
