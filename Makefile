# Thin wrapper over scripts/: each command does its own set-up.
.PHONY: run check
run:
	scripts/run
check:
	scripts/check
