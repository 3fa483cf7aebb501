// Long calls of the Python module: the computation runs on a worker thread under an abort token
// and a progress scope; the calling thread keeps Python responsive.
//
// Why a worker thread: Python runs signal handlers (the one that raises KeyboardInterrupt) only on
// the main thread, so the thread that called into the module must stay free to run them. It waits
// with the GIL released and wakes every 20 ms to run the handlers and forward progress; the
// library itself polls the token (tkAttention::check) on the worker.
#include "bindings.h"

#include <tk/attention.h>
#include <tk/progress.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace {

struct WorkerState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::exception_ptr error;
  std::atomic<double> fraction{0.0};
};

}  // namespace

void tfPyRunLong(const py::object& progress, const std::function<void()>& work) {
  WorkerState state;
  tkAbortToken token;
  std::thread worker([&state, &token, &work] {
    try {
      tkAttentionScope attention(token);
      tkProgressScope scope([&state](double fraction) { state.fraction.store(fraction); }, false);
      work();
    } catch (...) {
      state.error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      state.done = true;
    }
    state.finished.notify_all();
  });

  // From here on nothing may leave this function before the worker is joined.
  std::optional<py::error_already_set> pending;
  double reported = -1.0;
  auto report = [&](double fraction) {
    if (pending || progress.is_none() || fraction == reported)
      return;
    reported = fraction;
    try {
      progress(fraction);
    } catch (py::error_already_set& error) {
      pending.emplace(std::move(error));
      token.requestAbort();
    }
  };
  bool done = false;
  while (!done) {
    {
      py::gil_scoped_release release;
      std::unique_lock<std::mutex> lock(state.mutex);
      done = state.finished.wait_for(lock, std::chrono::milliseconds(20),
                                     [&state] { return state.done; });
    }
    if (pending)
      continue;
    if (PyErr_CheckSignals() != 0) {
      pending.emplace();  // takes the KeyboardInterrupt (or a handler's exception) from Python
      token.requestAbort();
    } else {
      report(state.fraction.load());
    }
  }
  worker.join();

  if (pending) {
    // The abort request may reach the library after its last check (the result is then built
    // from where the minimisation stopped and the call returns normally): the interrupted call
    // still ends as aborted, as the command-line tool's does.
    const std::exception_ptr outcomeError =
        state.error ? state.error
                    : (token.isAbortRequested() ? std::make_exception_ptr(tkAttention::Aborted())
                                                : nullptr);
    if (outcomeError) {
      py::object outcome = tfPyLibraryException(outcomeError);
      if (!outcome.is_none() && pending->value())
        PyException_SetContext(pending->value().ptr(), outcome.release().ptr());
    }
    throw std::move(*pending);
  }
  if (state.error)
    std::rethrow_exception(state.error);
  report(state.fraction.load());
  if (pending)
    throw std::move(*pending);
}
