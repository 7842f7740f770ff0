"""The fault soak of korvane-cli against korvane-devsim (scripts/soak.py)."""
