"""What the test suites that start their own Xvfb share: making sure a display number is free."""

import os


def claim_display(number):
    """Raises when a live X server holds display `number`; clears what a dead one left."""
    lock = "/tmp/.X%d-lock" % number
    if not os.path.exists(lock):
        return
    try:
        pid = int(open(lock).read().strip())
        os.kill(pid, 0)
        raise RuntimeError("display :%d is in use by process %d" % (number, pid))
    except (ValueError, ProcessLookupError):
        os.remove(lock)  # left behind by an X server that is gone
        socket_path = "/tmp/.X11-unix/X%d" % number
        if os.path.exists(socket_path):
            os.remove(socket_path)
