"""The emulated device as this machine sees it: one module per job (see cli.py)."""
