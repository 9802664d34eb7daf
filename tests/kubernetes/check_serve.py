#!/usr/bin/python3
"""packaging/kubernetes/pagesnap-serve.yaml without a cluster: every field of every object against
the Kubernetes API's models (as check_job.py), and what the service depends on: the image runs
pagesnap-serve, the probes, the Service and the network policy reach the port it listens on,
requests in flight may finish before the pod is killed, the memory asked for covers the
measured workers and engines. Exit 77 (skipped) without python3-yaml or python3-kubernetes.
  check_serve.py MANIFEST"""
import re
import sys

from manifest import load, mebibytes

# Resident memory of one worker with its engine: the largest engine and the largest worker
# measured with pagesnap-batch -j 2 at 300 dpi over corpus documents, 348 + 293 MB
# (docs/SERVICE.md); and room for the server itself, a process without an engine.
WORKER_AND_ENGINE_MIB = 612
SERVER_MIB = 50
# pagesnap-serve's default --timeout.
DEFAULT_TIMEOUT = 120

objects, failed = load(sys.argv[1])
kinds = {}
for d in objects:
    kinds.setdefault(d["kind"], []).append(d)
deploy = kinds["Deployment"][0]["spec"]
labels = deploy["template"]["metadata"]["labels"]
pod = deploy["template"]["spec"]
box = pod["containers"][0]
args = box.get("args", [])
opt = lambda name: args[args.index(name) + 1] if name in args else None
listen = re.fullmatch(r"0\.0\.0\.0:(\d+)", opt("--listen") or "")
port = int(listen[1]) if listen else None
ports = {p.get("name"): p["containerPort"] for p in box.get("ports", [])}


def reaches(target):
    """Whether a port given by number or by the container port's name is the listening one."""
    return port is not None and (target == port or ports.get(target) == port)


def probe(kind, path):
    get = box.get(kind, {}).get("httpGet", {})
    return get.get("path") == path and reaches(get.get("port"))


jobs = int(opt("-j") or opt("--jobs") or 0)
requests = {k: str(v) for k, v in box["resources"].get("requests", {}).items()}
limits = {k: str(v) for k, v in box["resources"].get("limits", {}).items()}
timeout = int(opt("--timeout") or opt("-t") or DEFAULT_TIMEOUT)
pre_stop = box.get("lifecycle", {}).get("preStop", {}).get("exec", {}).get("command", [])
pre_stop_s = int(pre_stop[1]) if len(pre_stop) == 2 and pre_stop[0].endswith("/sleep") else 0
services = kinds.get("Service", [])
policies = kinds.get("NetworkPolicy", [])
selects = lambda selector: bool(selector) and selector.items() <= labels.items()
checks = [
    ("the image's entry point runs pagesnap-serve (named first)", args[:1] == ["pagesnap-serve"]),
    ("--listen 0.0.0.0:PORT, PORT a container port", port in ports.values()),
    ("readiness on /readyz at that port", probe("readinessProbe", "/readyz")),
    ("liveness on /healthz at that port (not /readyz: a busy pod is not a dead one)", probe("livenessProbe", "/healthz")),
    ("the Deployment's selector matches its pods", selects(deploy["selector"].get("matchLabels", {}))),
    ("a Service selects the pods and sends to that port", any(
        selects(s["spec"].get("selector", {})) and all(reaches(p.get("targetPort", p["port"])) for p in s["spec"]["ports"])
        for s in services)),
    ("-j = the cores requested", jobs > 0 and requests.get("cpu") == str(jobs)),
    (f"memory asked for covers -j workers and engines ({WORKER_AND_ENGINE_MIB} MiB each) and the server",
     "memory" in requests and mebibytes(requests["memory"]) >= jobs * WORKER_AND_ENGINE_MIB + SERVER_MIB),
    ("a memory limit no lower than the request",
     "memory" in limits and "memory" in requests and mebibytes(limits["memory"]) >= mebibytes(requests["memory"])),
    ("requests in flight finish: grace period > preStop + --timeout",
     pod.get("terminationGracePeriodSeconds", 30) > pre_stop_s + timeout),
    ("/tmp an emptyDir", any(m["mountPath"] == "/tmp" and "emptyDir" in v for m in box.get("volumeMounts", [])
                             for v in pod.get("volumes", []) if v["name"] == m["name"])),
    ("non-root, read-only root, no privilege escalation",
     pod["securityContext"].get("runAsNonRoot") and box["securityContext"] == {**box["securityContext"], "runAsNonRoot": True,
                                                                             "readOnlyRootFilesystem": True, "allowPrivilegeEscalation": False}),
    ("a network policy selects the pods and admits that port", any(
        selects(p["spec"]["podSelector"].get("matchLabels", {})) and any(
            q.get("port") in (port, "http") for r in p["spec"].get("ingress", []) for q in r.get("ports", []))
        for p in policies)),
]
failed += [f"not so: {what}" for what, ok in checks if not ok]
print("\n".join(failed) or f"{len(objects)} objects, {len(checks)} checks: all right")
sys.exit(1 if failed else 0)
