"""Halvorn's release tooling, behind the commands in scripts/:

    command       what the commands share: the repository's root, and how they stop
    layout        what a release is made of, declared once; BUILDINFO's writer and reader
    archive       the release zip, the same bytes whoever writes it
    authenticode  Authenticode's ASN.1 structures, and what of a PE file a signature digests
    pe            the checks of a built halvorn.exe, which the tests run
    tools         the calls of openssl and osslsigncode, each named for what it does
    signature     the rule: a signature rebuilt from the parts that its signer chooses
    reasons       why a downloaded file differs, each reason once
    verdicts      what verify-release says of a downloaded file
    release       scripts/release
    publish       scripts/publish
    manifests     scripts/package-manifests
    verify        scripts/verify-release"""
