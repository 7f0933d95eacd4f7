"""``python -m quorvel``: the same command line as ``quorvel``."""

import sys

from quorvel.cli import main

sys.exit(main())
