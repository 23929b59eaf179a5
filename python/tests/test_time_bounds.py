"""No test waits unbounded: the helpers that run children end a hung one with its process group
within their bound, and no test module starts or waits for a child, or joins a thread, any other
way."""
import os
import re
import time
import unittest

from .helpers import (PYTHON_DIR, TempDirCase, communicate, run_cli, run_on_terminal, start)

TESTS_DIR = os.path.join(PYTHON_DIR, 'tests')

# What a test module may not do itself, and what to use instead (helpers.py implements them).
UNBOUNDED = [
    (r'\bsubprocess\s*\.\s*(Popen|call|check_call|check_output|run)\s*\(',
     'start children with helpers.start/run/run_cli'),
    (r'\bos\s*\.\s*(system|popen|spawn\w*)\s*\(', 'start children with helpers.start/run'),
    (r'\.\s*(communicate|wait)\s*\(', 'wait for children with helpers.communicate/run'),
    (r'\.\s*join\s*\(\s*\)', 'join threads with a timeout'),
]


def _alive(pid):
    """Whether process `pid` exists and is not a zombie."""
    try:
        with open('/proc/%d/stat' % pid) as f:
            return f.read().rsplit(')', 1)[1].split()[0] != 'Z'
    except (IOError, OSError):
        return False


class HelpersEndHungChildren(TempDirCase):
    BOUND = 2.0

    def test_each_runner_kills_a_hung_child_within_its_bound(self):
        fifo = self.path('never-written')
        os.mkfifo(fifo)   # verify blocks opening it: nobody ever writes
        pid_file = self.path('grandchild.pid')

        def shell():
            # A child whose own child would outlive it: the whole process group goes.
            p = start(['sh', '-c', 'sleep 60 & echo $! > "$0"; wait', pid_file])
            communicate(p, timeout=self.BOUND)
        runners = [
            ('communicate', shell),
            ('run_cli', lambda: run_cli(['verify', fifo], timeout=self.BOUND)),
            ('run_on_terminal', lambda: run_on_terminal(['verify', fifo], dict(
                os.environ, PYTHONPATH=PYTHON_DIR), timeout=self.BOUND)),
        ]
        for name, runner in runners:
            began = time.time()
            with self.assertRaises(AssertionError) as caught:
                runner()
            self.assertIn('did not end within %g s' % self.BOUND, str(caught.exception), name)
            self.assertLess(time.time() - began, self.BOUND + 20, name)
        with open(pid_file) as f:
            grandchild = int(f.read())
        give_up = time.time() + 10
        while _alive(grandchild) and time.time() < give_up:
            time.sleep(0.05)
        self.assertFalse(_alive(grandchild), 'the hung child\'s own child still runs')


class NoUnboundedWaitInTheTests(unittest.TestCase):
    def test_children_and_threads_only_through_the_bounded_helpers(self):
        own = {'helpers.py', os.path.basename(__file__).replace('.pyc', '.py')}
        found = []
        for name in sorted(os.listdir(TESTS_DIR)):
            if not name.endswith('.py') or name in own:
                continue
            with open(os.path.join(TESTS_DIR, name)) as f:
                for number, line in enumerate(f, 1):
                    code = line.split('#', 1)[0]
                    for pattern, instead in UNBOUNDED:
                        if re.search(pattern, code):
                            found.append('%s:%d: %s (%s)' % (name, number, line.strip(),
                                                             instead))
        self.assertEqual(found, [], '\n'.join(found))


if __name__ == '__main__':
    unittest.main()
