"""Halvorn's release tooling, behind the commands in scripts/:

    tool          what the commands share: the repository's root, and how they stop
    archive       the release zip, the same bytes whoever writes it
    authenticode  Authenticode's ASN.1 structures, and what of a PE file a signature digests
    openssl       the checks that openssl and osslsigncode make, one call each
    signature     the rule: a signature rebuilt from the parts that its signer chooses
    verdicts      what verify-release says of a downloaded file, and why
    verify        scripts/verify-release
    manifests     scripts/package-manifests"""
