"""Kubernetes manifests without a cluster: every field of every object against the Kubernetes API's
models (Debian's python3-kubernetes, the API of Kubernetes 1.22), required fields included.
Shared by check_job.py and check_serve.py; exits 77 (skipped) without python3-yaml or
python3-kubernetes."""
import json
import re
import sys

try:
    import yaml
    from kubernetes import client
except ImportError as e:
    print(f"SKIP: {e.name} missing (python3-yaml, python3-kubernetes: scripts/deps)")
    sys.exit(77)


def wrong_fields(value, type_name, path, newer=()):
    """Paths in value that the API type lacks or that hold another kind of value; fields named
    "Type.field" in newer (newer than the models) are left to the caller."""
    if m := re.fullmatch(r"list\[(.+)\]", type_name):
        if not isinstance(value, list):
            return [f"{path}: not a list"]
        return [p for i, v in enumerate(value) for p in wrong_fields(v, m.group(1), f"{path}[{i}]", newer)]
    simple = {"int": int, "str": str, "bool": bool}
    if type_name in simple:
        return [] if type(value) is simple[type_name] else [f"{path}: not {type_name}"]
    if not hasattr(client, type_name):  # dict(str, str), object (quantities, int-or-string)
        return []
    model = getattr(client, type_name)
    if not isinstance(value, dict):
        return [f"{path}: not an object"]
    attrs = {key: attr for attr, key in model.attribute_map.items()}
    found = []
    for key, v in value.items():
        if key in attrs:
            found += wrong_fields(v, model.openapi_types[attrs[key]], f"{path}.{key}", newer)
        elif f"{type_name}.{key}" not in newer:
            found.append(f"{path}.{key}: no such field")
    return found


class Body:  # what ApiClient.deserialize reads
    def __init__(self, doc):
        self.data = json.dumps(doc)


def load(path, newer=()):
    """The objects of the manifest, and what is wrong with their fields."""
    objects = list(yaml.safe_load_all(open(path)))
    failed = []
    for doc in objects:
        kind = doc["kind"]
        failed += wrong_fields(doc, f"V1{kind}", f'{kind} {doc["metadata"]["name"]}', newer)
        try:  # required fields
            client.ApiClient().deserialize(Body(doc), f"V1{kind}")
        except ValueError as e:
            failed.append(f"{kind}: {e}")
    return objects, failed


def mebibytes(quantity):
    """A memory quantity ("3Gi", "1536Mi", "2G", a number of bytes) in MiB."""
    m = re.fullmatch(r"(\d+(?:\.\d+)?)(Ki|Mi|Gi|Ti|k|M|G|T)?", str(quantity))
    if not m:
        raise ValueError(f"not a memory quantity: {quantity}")
    factor = {None: 1, "Ki": 2**10, "Mi": 2**20, "Gi": 2**30, "Ti": 2**40, "k": 1e3, "M": 1e6, "G": 1e9, "T": 1e12}
    return float(m[1]) * factor[m[2]] / 2**20
