import sys

from quorvel.cli import main

sys.exit(main())
