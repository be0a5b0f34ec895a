"""The emulated device as this machine sees it (`/usr/bin/python3 device/host --help`)."""
import os
import sys

# Run as `python3 device/host`: the package is imported from its folder's parent, and not its
# modules from its own folder.
sys.path[0] = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

from host.base import Problem, say  # noqa: E402
from host.cli import main  # noqa: E402

try:
    sys.exit(main(sys.argv[1:]))
except Problem as problem:
    say(str(problem))
    sys.exit(2)
except KeyboardInterrupt:
    sys.exit(130)
