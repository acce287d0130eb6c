# Signs files with Authenticode (SHA-256, RFC 3161 timestamp) using the certificate the workflow
# takes from the repository's secrets: SIGNING_CERTIFICATE (a .pfx, base64) and SIGNING_PASSWORD.
# Usage: tools/sign-windows.ps1 FILE...
param([Parameter(Mandatory, ValueFromRemainingArguments)][string[]]$Files)
$ErrorActionPreference = 'Stop'

$pfx = Join-Path ([IO.Path]::GetTempPath()) "zorvik-signing-$PID.pfx"
try {
    [IO.File]::WriteAllBytes($pfx, [Convert]::FromBase64String($env:SIGNING_CERTIFICATE))
    foreach ($file in $Files) {
        signtool sign /f $pfx /p $env:SIGNING_PASSWORD /fd SHA256 `
            /tr http://timestamp.digicert.com /td SHA256 /d Zorvik_QRCode $file
        if ($LASTEXITCODE -ne 0) { throw "signtool could not sign $file" }
        signtool verify /pa $file
        if ($LASTEXITCODE -ne 0) { throw "the signature of $file does not verify" }
    }
} finally {
    Remove-Item -Force -ErrorAction SilentlyContinue $pfx
}
