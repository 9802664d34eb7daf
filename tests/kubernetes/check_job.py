#!/usr/bin/python3
"""packaging/kubernetes/pagesnap-job.yaml without a cluster: every field of every object against
the Kubernetes API's models (Debian's python3-kubernetes, the API of Kubernetes 1.22), and the
settings the shards depend on. Exit 77 (skipped) without python3-yaml or python3-kubernetes.
  check_job.py MANIFEST"""
import re
import sys

from manifest import load

# Job fields newer than the models (Kubernetes 1.29 and 1.26), checked by hand below.
NEWER = {"V1JobSpec.backoffLimitPerIndex", "V1JobSpec.podFailurePolicy"}

objects, failed = load(sys.argv[1], NEWER)
docs = {d["kind"]: d for d in objects}
job = docs["Job"]["spec"]
pod = job["template"]["spec"]
box = pod["containers"][0]
args = box["args"]
opt = lambda name: args[args.index(name) + 1] if name in args else None
shard = re.fullmatch(r"\$\(JOB_COMPLETION_INDEX\)/(\d+)", opt("--shard") or "")
mounts = {m["mountPath"]: m for m in box["volumeMounts"]}
volumes = {v["name"]: v for v in pod["volumes"]}
volume_at = lambda path: volumes.get(mounts.get(path, {}).get("name"), {})
claims = {d["metadata"]["name"]: d for d in objects if d["kind"] == "PersistentVolumeClaim"}
claim_at = lambda path: claims.get(volume_at(path).get("persistentVolumeClaim", {}).get("claimName"), {})
jobs = int(opt("-j") or 0)
requests = {k: str(v) for k, v in box["resources"]["requests"].items()}
rules = job.get("podFailurePolicy", {}).get("rules", [])
checks = [
    ("indexed, completions = parallelism = N of --shard $(JOB_COMPLETION_INDEX)/N",
     job.get("completionMode") == "Indexed" and shard and job["completions"] == job["parallelism"] == int(shard[1])),
    ("--resume, so that a replaced pod goes on", "--resume" in args),
    ("-j = the cores requested, 1536Mi each", jobs > 0 and requests["cpu"] == str(jobs) and
     requests["memory"] in (f"{1536 * jobs}Mi", f"{1.5 * jobs:g}Gi")),
    ("the output folder on a ReadWriteMany claim", "ReadWriteMany" in claim_at(opt("-o")).get("spec", {}).get("accessModes", [])),
    ("the documents read-only", mounts.get(args[-1], {}).get("readOnly") and volume_at(args[-1])["persistentVolumeClaim"].get("readOnly")),
    ("/tmp an emptyDir", "emptyDir" in volume_at("/tmp")),
    ("non-root, read-only root, no privilege escalation",
     pod["securityContext"].get("runAsNonRoot") and box["securityContext"] == {**box["securityContext"], "runAsNonRoot": True,
                                                                             "readOnlyRootFilesystem": True, "allowPrivilegeEscalation": False}),
    ("backoffLimitPerIndex a count", isinstance(job.get("backoffLimitPerIndex"), int) and job["backoffLimitPerIndex"] >= 0),
    ("podFailurePolicy rules as the Job API takes them (restartPolicy Never)", pod["restartPolicy"] == "Never" and all(
        r["action"] in ("FailIndex", "FailJob", "Ignore", "Count") and
        (("onExitCodes" in r) != ("onPodConditions" in r)) and
        r.get("onExitCodes", {}).get("containerName", box["name"]) == box["name"] and
        r.get("onExitCodes", {}).get("operator", "In") in ("In", "NotIn") and
        all(isinstance(c, int) and c != 0 for c in r.get("onExitCodes", {}).get("values", [1])) for r in rules)),
    ("the network policy selects the pods", docs["NetworkPolicy"]["spec"]["podSelector"]["matchLabels"].items()
     <= job["template"]["metadata"]["labels"].items()),
]
failed += [f"not so: {what}" for what, ok in checks if not ok]
print("\n".join(failed) or f"{len(objects)} objects, {len(checks)} checks: all right")
sys.exit(1 if failed else 0)
