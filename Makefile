# Thin wrapper over scripts/: each command does its own set-up.
.PHONY: run check package
run:
	scripts/run
check:
	scripts/check
package:
	packaging/build-package
