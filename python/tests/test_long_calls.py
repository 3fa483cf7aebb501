"""Long calls: progress callback, cancelling from the callback, Ctrl-C through the abort token, and
calls from several Python threads at once (the GIL is released)."""

import _thread
import threading

import numpy as np
import pytest

import ccal
from conftest import load


class TestProgress:
    def test_fractions_rise_and_end_at_one(self):
        seen = []
        ccal.calibrate_rig(load("opencv-left"), progress=seen.append)
        assert seen and seen[-1] == 1.0
        assert all(0.0 <= a <= b <= 1.0 for a, b in zip(seen, seen[1:]))

    def test_an_exception_of_the_callback_cancels_the_call(self):
        class Stop(Exception):
            pass

        def stop(fraction):
            raise Stop()

        with pytest.raises(Stop):
            ccal.calibrate_line_scan(load("linescan-noisy"), progress=stop)


class TestInterrupt:
    def test_ctrl_c_aborts_the_computation(self):
        # Seconds of work without an abort (the radial rig under the sine-tangent model); the
        # calibration throws tkAttention::Aborted once the token is set, which is kept as the
        # context.
        rig = load("rig3-radial-exact")
        timer = threading.Timer(0.3, _thread.interrupt_main)
        timer.start()
        try:
            with pytest.raises(KeyboardInterrupt) as info:
                ccal.calibrate_rig(rig, model="sine-tan")
        finally:
            timer.cancel()
        assert isinstance(info.value.__context__, ccal.Aborted)
        assert info.value.__context__.error_number == 0x10000200


class TestThreads:
    def test_parallel_calls_give_the_sequential_results(self):
        names = ["opencv-left", "single-none-exact"]
        expected = [ccal.calibrate_rig(load(n)).cameras[0].pose for n in names]
        results = [None] * len(names)

        def run(i):
            results[i] = ccal.calibrate_rig(load(names[i])).cameras[0].pose

        threads = [threading.Thread(target=run, args=(i,)) for i in range(len(names))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for got, want in zip(results, expected):
            assert np.array_equal(got, want)
